// Under Wine: the ports are COM devices linked to pseudo-terminals, whose
// far ends the Linux peer drives (scripts/wine-serial-run.sh starts it and
// names the ports and the peer's TCP port in the environment).
// Winsock's header has to come before windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "line_rig.h"
#include "peer_protocol.h"

namespace kavi::testing {
namespace {

// The system's handle table, as NtQuerySystemInformation reports it.
struct SystemHandleEntry {
  USHORT processId;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR flags;
  USHORT handle;
  PVOID object;
  ULONG grantedAccess;
};
struct SystemHandles {
  ULONG count;
  SystemHandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;

extern "C" LONG WINAPI NtQuerySystemInformation(ULONG informationClass,
                                                PVOID information, ULONG length,
                                                PULONG needed);

class RemoteRig : public LineRig {
 public:
  RemoteRig() {
    const char* peer = std::getenv("KAVIROS_LINE_PEER");
    const char* ports = std::getenv("KAVIROS_LINE_PORTS");
    if (peer == nullptr || ports == nullptr) return;
    const std::string names = ports;
    const auto split = names.find(';');
    if (split == std::string::npos) return;
    names_[0] = names.substr(0, split);
    names_[1] = names.substr(split + 1);

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(peer)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ == INVALID_SOCKET ||
        connect(socket_, reinterpret_cast<sockaddr*>(&address),
                sizeof address) != 0) {
      socket_ = INVALID_SOCKET;
    }
  }

  bool ok() const { return socket_ != INVALID_SOCKET; }

  std::string PortName(int line) override { return names_[line]; }
  std::string MissingPortName() override { return "\\\\.\\COM49"; }

  void Send(int line, const Bytes& bytes, int delayMs) override {
    Ask(kPeerSend, line, static_cast<uint32_t>(delayMs), 0, bytes);
  }

  Bytes Receive(int line, std::size_t count, int waitMs) override {
    return Ask(kPeerReceive, line, static_cast<uint32_t>(count),
               static_cast<uint32_t>(waitMs), {});
  }

  void ResetLine(int line) override { Ask(kPeerReset, line, 0, 0, {}); }

  bool HandleIsOpen(PortHandle handle) override {
    DWORD flags = 0;
    return handle != 0 &&
           GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<intptr_t>(
                                    static_cast<int32_t>(handle))),
                                &flags);
  }

  int OpenHandleCount() override {
    std::vector<unsigned char> buffer(1 << 22);
    ULONG needed = 0;
    if (NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                 static_cast<ULONG>(buffer.size()),
                                 &needed) != 0) {
      return -1;
    }
    const auto* handles = reinterpret_cast<const SystemHandles*>(buffer.data());
    const auto self = static_cast<USHORT>(GetCurrentProcessId());
    int count = 0;
    for (ULONG i = 0; i < handles->count; ++i) {
      if (handles->entries[i].processId == self) ++count;
    }
    return count;
  }

 private:
  bool SendAll(const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
      const int n = send(socket_, at, static_cast<int>(size), 0);
      if (n <= 0) return false;
      at += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool ReceiveAll(void* data, std::size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
      const int n = recv(socket_, at, static_cast<int>(size), 0);
      if (n <= 0) return false;
      at += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  Bytes Ask(PeerOp op, int line, uint32_t a, uint32_t b, const Bytes& payload) {
    if (!ok()) {
      ADD_FAILURE() << "no peer for the COM ports";
      return {};
    }
    PeerRequest request{op, static_cast<uint8_t>(line),           0, a,
                        b,  static_cast<uint32_t>(payload.size())};
    uint32_t size = 0;
    if (!SendAll(&request, sizeof request) ||
        !SendAll(payload.data(), payload.size()) ||
        !ReceiveAll(&size, sizeof size)) {
      ADD_FAILURE() << "the peer went away";
      return {};
    }
    Bytes answer(size);
    if (size > 0 && !ReceiveAll(answer.data(), size)) {
      ADD_FAILURE() << "the peer went away";
      return {};
    }
    return answer;
  }

  std::string names_[2];
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace

LineRig& Rig() {
  static RemoteRig rig;
  EXPECT_TRUE(rig.ok())
      << "run through scripts/wine-serial-run.sh, which provides the COM "
         "ports and their far ends";
  return rig;
}

}  // namespace kavi::testing
