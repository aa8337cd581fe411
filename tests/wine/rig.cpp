// Winsock's header has to come before windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "rig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace melbax {

void PrintTo(const Message& message, std::ostream* out) {
  *out << "[" << message.level << "] \"" << message.text << "\"";
}

}  // namespace melbax

namespace kaviros::wine {
namespace {

// The connection to kaviros_wine_sim, whose TCP port the harness puts in
// KAVIROS_SIM_PEER: one request line, one reply line.
class Peer {
 public:
  static Peer& Get() {
    static Peer peer;
    return peer;
  }

  // The reply after "ok", or nothing with the test failed.
  std::optional<std::string> Ask(const std::string& request) {
    std::lock_guard lock(mutex_);
    if (socket_ == INVALID_SOCKET) {
      ADD_FAILURE() << "no simulator helper: run through "
                       "scripts/wine-e2e-run.sh";
      return std::nullopt;
    }
    const std::string line = request + "\n";
    std::string reply;
    if (!SendAll(line) || !ReceiveLine(reply)) {
      ADD_FAILURE() << "the simulator helper went away at: " << request;
      return std::nullopt;
    }
    if (reply == "ok") return std::string();
    if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
    ADD_FAILURE() << request << ": " << reply;
    return std::nullopt;
  }

 private:
  Peer() {
    const char* port = std::getenv("KAVIROS_SIM_PEER");
    WSADATA data;
    if (port == nullptr || WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ != INVALID_SOCKET &&
        connect(socket_, reinterpret_cast<sockaddr*>(&address),
                sizeof address) != 0) {
      closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
  }

  bool SendAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const int n = send(socket_, text.data() + done,
                         static_cast<int>(text.size() - done), 0);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  bool ReceiveLine(std::string& line) {
    for (;;) {
      const auto end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      char buffer[256];
      const int n = recv(socket_, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }

  std::mutex mutex_;
  SOCKET socket_ = INVALID_SOCKET;
  std::string pending_;
};

std::string HexLine(const char* direction, const uint8_t* bytes,
                    uint32_t count) {
  std::string text = direction;
  char byte[4];
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof byte, " %02X", bytes[i]);
    text += byte;
  }
  return text;
}

std::string Hex2(int value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

}  // namespace

std::string ComName(int com) { return "COM" + std::to_string(com); }

Sim::Sim(int com, const std::string& options) : com_(com) {
  started_ = Peer::Get()
                 .Ask("start " + std::to_string(com) + " " + options)
                 .has_value();
}

Sim::~Sim() {
  if (started_) Ask("stop");
}

std::string Sim::Ask(const std::string& request) {
  const auto space = request.find(' ');
  const std::string line = space == std::string::npos
                               ? request + " " + std::to_string(com_)
                               : request.substr(0, space) + " " +
                                     std::to_string(com_) +
                                     request.substr(space);
  return Peer::Get().Ask(line).value_or("");
}

std::optional<uint32_t> Sim::Value(int station, int index) {
  const std::string value = Ask("get " + Hex2(station) + " " + Hex2(index));
  if (value.empty()) return std::nullopt;
  return static_cast<uint32_t>(std::stoul(value));
}

void Sim::SetValue(int station, int index, uint32_t value) {
  Ask("set " + Hex2(station) + " " + Hex2(index) + " " + std::to_string(value));
}

void Sim::Script(const std::string& faults) { Ask("script " + faults); }

uint64_t Sim::Count(const std::string& kind) {
  const std::string count = Ask("count " + kind);
  return count.empty() ? 0 : std::stoull(count);
}

uint64_t Sim::Resets(int station) {
  const std::string count = Ask("resets " + Hex2(station));
  return count.empty() ? 0 : std::stoull(count);
}

bool Sim::WaitForTelegrams(uint64_t count) {
  return Peer::Get()
      .Ask("wait " + std::to_string(com_) + " " + std::to_string(count) +
           " 10000")
      .has_value();
}

bool Sim::WaitForReplyBytes(uint64_t count) {
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const std::string bytes = Ask("bytes");
    if (bytes.empty()) return false;
    if (std::stoull(bytes) >= count) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::shared_ptr<melbax::Driver> TheDriver() {
  static std::shared_ptr<melbax::Driver> driver = [] {
    std::string error;
    auto loaded = melbax::Driver::Load(melbax::DefaultDriverPath(), error);
    if (!loaded) ADD_FAILURE() << "cannot load the driver: " << error;
    return loaded;
  }();
  return driver;
}

Message Msg8(std::string text) {
  return {KAVI_LEVEL_EXCHANGE, std::move(text)};
}

Message Msg32(std::string text) { return {KAVI_LEVEL_SETUP, std::move(text)}; }

Messages ReadRetry(const std::string& receiverMessage, int attempt) {
  return {Msg8(receiverMessage),
          Msg8("KAVIR> Read() error reading reply, retry " +
               std::to_string(attempt))};
}

Messages WriteRetry(const std::string& receiverMessage, int attempt) {
  return {Msg8(receiverMessage),
          Msg8("KAVIR> WriteParameter() error reading reply, retry " +
               std::to_string(attempt))};
}

Messages Seq(std::initializer_list<Messages> parts) {
  Messages all;
  for (const Messages& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

void LineRecord::Attach(melbax::Instance& instance) {
  instance.SetTraceSink([this](const melbax::TraceEvent& event) {
    const bool sent = event.direction == melbax::TraceDirection::kSent;
    std::lock_guard lock(mutex_);
    lines_.push_back(HexLine(sent ? ">" : "<", event.bytes, event.count));
    if (sent) ++sent_;
  });
}

std::vector<std::string> LineRecord::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(lines_, {});
}

uint64_t LineRecord::RequestsSent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void WineTest::Begin(const std::string& simOptions, uint32_t readTimeoutMs) {
  ASSERT_NE(TheDriver(), nullptr);
  sim_ = std::make_unique<Sim>(kCom, simOptions);
  ASSERT_TRUE(sim_->started());
  instance_ = std::make_unique<melbax::Instance>(TheDriver());
  line_.Attach(*instance_);
  std::string error;
  melbax::PortConfig port;
  port.name = melbax::DriverPortName(ComName(kCom), error);
  ASSERT_EQ(port.name, "\\\\.\\" + ComName(kCom)) << error;
  port.readTimeoutMs = readTimeoutMs;
  const melbax::Outcome started = instance_->Start(port);
  ASSERT_EQ(started.result, KAVI_OK);
  ASSERT_EQ(started.messages, Messages{Msg32(kBanner)});
}

void WineTest::TearDown() {
  // The port first, then its simulator.
  instance_.reset();
  sim_.reset();
}

melbax::Variable WineTest::Declare(const std::string& address, DataType type) {
  melbax::Variable variable;
  const melbax::Outcome declared = instance_->Declare(address, type, variable);
  EXPECT_EQ(declared.result, KAVI_OK)
      << address << " as " << melbax::DataTypeName(type);
  EXPECT_EQ(declared.messages, Messages{});
  return variable;
}

void WineTest::Settle() {
  ASSERT_TRUE(sim_->WaitForTelegrams(line_.RequestsSent()));
  // The reply leaves right after the request was handled; give it time to
  // reach the terminal.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace kaviros::wine
