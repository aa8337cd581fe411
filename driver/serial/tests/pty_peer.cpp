// The far ends of the COM ports a Windows test program uses under Wine.
//
//   kaviros_pty_peer --port-file FILE LINK...
//
// Makes one pseudo-terminal per LINK and LINK a symbolic link to its port
// side (LINK being $WINEPREFIX/dosdevices/comN), listens on 127.0.0.1 and
// writes the TCP port to FILE, then serves the test program's requests
// (peer_protocol.h) until its standard input closes. Removes the links on
// the way out.
//
// The terminals are left as they are made: what makes Wine take them as
// serial ports the driver can configure (RTS mode, parity) is done inside
// Wine's processes by tests/wine/pty_port_preload.c, which the harness
// preloads; setting CRTSCTS here would not do, since Wine reads CRTSCTS as
// RTS enabled (scripts/wine-line-lib.sh).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "peer_protocol.h"
#include "pty_pair.h"

namespace kavi::testing {
namespace {

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* at = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* at = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = send(fd, at, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

class Peer {
 public:
  bool Start(const std::string& portFile,
             const std::vector<std::string>& links);
  void Serve();
  ~Peer();

 private:
  bool Answer(int client);
  void JoinSenders() {
    for (std::thread& sender : senders_) sender.join();
    senders_.clear();
  }

  std::vector<std::unique_ptr<PtyPair>> pairs_;
  std::vector<std::string> links_;
  std::vector<std::thread> senders_;
  int listener_ = -1;
};

bool Peer::Start(const std::string& portFile,
                 const std::vector<std::string>& links) {
  for (const std::string& link : links) {
    auto pair = std::make_unique<PtyPair>();
    if (!pair->ok()) return false;
    unlink(link.c_str());
    if (symlink(pair->path().c_str(), link.c_str()) != 0) {
      std::perror(link.c_str());
      return false;
    }
    links_.push_back(link);
    pairs_.push_back(std::move(pair));
  }

  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
          0 ||
      listen(listener_, 4) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    std::perror("listen");
    return false;
  }
  // Written whole under another name first, so the reader never sees half.
  const std::string partial = portFile + ".partial";
  FILE* file = std::fopen(partial.c_str(), "w");
  if (file == nullptr) return false;
  std::fprintf(file, "%u\n", ntohs(address.sin_port));
  std::fclose(file);
  return std::rename(partial.c_str(), portFile.c_str()) == 0;
}

bool Peer::Answer(int client) {
  PeerRequest request;
  if (!ReadAll(client, &request, sizeof request)) return false;
  std::vector<uint8_t> payload(request.length);
  if (!payload.empty() && !ReadAll(client, payload.data(), payload.size())) {
    return false;
  }
  std::vector<uint8_t> answer;
  if (request.line < pairs_.size()) {
    PtyPair& pair = *pairs_[request.line];
    switch (request.op) {
      case kPeerSend:
        if (request.a == 0) {
          pair.Send(payload);
        } else {
          senders_.emplace_back([&pair, payload, delay = request.a] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            pair.Send(payload);
          });
        }
        break;
      case kPeerReceive:
        answer = pair.Receive(request.a, static_cast<int>(request.b));
        break;
      case kPeerReset:
        JoinSenders();
        pair.Reset();
        break;
      default:
        break;
    }
  }
  const auto size = static_cast<uint32_t>(answer.size());
  return WriteAll(client, &size, sizeof size) &&
         WriteAll(client, answer.data(), answer.size());
}

void Peer::Serve() {
  int client = -1;
  for (;;) {
    pollfd waiters[3] = {
        {STDIN_FILENO, POLLIN, 0}, {listener_, POLLIN, 0}, {client, POLLIN, 0}};
    if (poll(waiters, client >= 0 ? 3 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waiters[0].revents != 0) {
      char byte;
      if (read(STDIN_FILENO, &byte, 1) <= 0) break;  // the runner is done
    }
    if ((waiters[1].revents & POLLIN) != 0) {
      const int accepted = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted >= 0) {
        if (client >= 0) close(client);
        client = accepted;
      }
      continue;
    }
    if (client >= 0 && waiters[2].revents != 0 && !Answer(client)) {
      close(client);
      client = -1;
    }
  }
  if (client >= 0) close(client);
}

Peer::~Peer() {
  JoinSenders();
  for (const std::string& link : links_) unlink(link.c_str());
  if (listener_ >= 0) close(listener_);
}

}  // namespace
}  // namespace kavi::testing

int main(int argc, char** argv) {
  std::string portFile;
  std::vector<std::string> links;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) {
      portFile = argv[++i];
    } else {
      links.emplace_back(argv[i]);
    }
  }
  if (portFile.empty() || links.empty()) {
    std::fprintf(stderr, "usage: %s --port-file FILE LINK...\n", argv[0]);
    return 2;
  }
  kavi::testing::Peer peer;
  if (!peer.Start(portFile, links)) return 1;
  peer.Serve();
  return 0;
}
