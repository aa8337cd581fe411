// The controllers behind the COM ports of the Windows end-to-end tests.
//
//   kaviros_wine_sim --dosdevices DIR --port-file FILE
//
// Runs simulators in this (Linux) process at the Windows program's request,
// each on a pseudo-terminal linked as DIR/comN, so that \\.\COMN under Wine
// is its port. Listens on 127.0.0.1, writes the TCP port to FILE and serves
// one line per request until its standard input closes; then every
// simulator stops and every link goes.
//
// Requests (numbers decimal unless said; one reply line, "ok ..." or
// "error <why>"):
//   start N ARGS...    a simulator on comN with r2600-sim's options
//   stop N
//   get N SS PP        the value the controller holds (SS, PP hexadecimal)
//   set N SS PP V      set it (V decimal or 0x-hexadecimal)
//   script N FAULTS    the faults of the next replies (r2600-sim --script)
//   count N KIND       faults of KIND injected so far
//   telegrams N        telegrams handled so far
//   wait N COUNT MS    until COUNT telegrams are handled ("ok" or "error")
//   resets N SS        reset telegrams station SS received
//   bytes N            reply bytes written to the line (or lost) so far
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "r2600sim/simulator.h"

namespace {

using r2600sim::Simulator;

bool ParseNumber(std::string_view text, int base, uint64_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, *value, base);
  return !text.empty() && ec == std::errc() && at == end;
}

class Peer {
 public:
  explicit Peer(std::string dosdevices) : dosdevices_(std::move(dosdevices)) {}

  std::string Answer(const std::string& line);

 private:
  Simulator* Find(const std::vector<std::string>& words, std::string* error);
  std::string Start(const std::vector<std::string>& words);

  std::string dosdevices_;
  std::map<std::string, std::unique_ptr<Simulator>> sims_;
};

Simulator* Peer::Find(const std::vector<std::string>& words,
                      std::string* error) {
  if (words.size() < 2) {
    *error = "error no port number";
    return nullptr;
  }
  const auto found = sims_.find(words[1]);
  if (found == sims_.end()) {
    *error = "error no simulator on com" + words[1];
    return nullptr;
  }
  return found->second.get();
}

std::string Peer::Start(const std::vector<std::string>& words) {
  if (words.size() < 2) return "error no port number";
  sims_.erase(words[1]);
  const std::vector<std::string_view> args(words.begin() + 2, words.end());
  r2600sim::AppOptions app;
  std::string error;
  if (r2600sim::ParseOptions(args, &app, &error) !=
      r2600sim::ParseResult::kRun) {
    return "error " + (error.empty() ? std::string("not a run") : error);
  }
  app.simulator.link = dosdevices_ + "/com" + words[1];
  auto sim = std::make_unique<Simulator>(app.simulator);
  for (const uint8_t station : sim->controller().Stations()) {
    for (const auto& [index, value] : app.presets) {
      sim->controller().SetValue(station, index, value);
    }
  }
  if (!sim->Start(&error)) return "error " + error;
  const std::string port = sim->Port();
  sims_[words[1]] = std::move(sim);
  return "ok " + port;
}

std::string Peer::Answer(const std::string& line) {
  std::istringstream split(line);
  std::vector<std::string> words;
  for (std::string word; split >> word;) words.push_back(word);
  if (words.empty()) return "error empty request";
  const std::string& op = words[0];
  if (op == "start") return Start(words);

  std::string error;
  Simulator* sim = Find(words, &error);
  if (sim == nullptr) return error;
  uint64_t a = 0;
  uint64_t b = 0;
  uint64_t c = 0;
  if (op == "stop") {
    sims_.erase(words[1]);
    return "ok";
  }
  if (op == "get" && words.size() == 4 && ParseNumber(words[2], 16, &a) &&
      ParseNumber(words[3], 16, &b) && a <= 0xFF && b <= 0xFF) {
    const auto value = sim->controller().Value(static_cast<uint8_t>(a),
                                               static_cast<uint8_t>(b));
    return value ? "ok " + std::to_string(*value) : "error no such value";
  }
  if (op == "set" && words.size() == 5 && ParseNumber(words[2], 16, &a) &&
      ParseNumber(words[3], 16, &b) && ParseNumber(words[4], 10, &c) &&
      a <= 0xFF && b <= 0xFF && c <= 0xFFFFFFFF) {
    return sim->controller().SetValue(static_cast<uint8_t>(a),
                                      static_cast<uint8_t>(b),
                                      static_cast<uint32_t>(c))
               ? "ok"
               : "error no such value";
  }
  if (op == "script" && words.size() == 3) {
    std::vector<r2600sim::FaultStep> steps;
    if (!r2600sim::ParseFaultScript(words[2], &steps, &error)) {
      return "error " + error;
    }
    sim->faults().SetScript(std::move(steps));
    return "ok";
  }
  if (op == "count" && words.size() == 3) {
    const auto kind = r2600sim::FaultFromName(words[2]);
    if (!kind) return "error no fault " + words[2];
    return "ok " + std::to_string(sim->faults().Count(*kind));
  }
  if (op == "telegrams" && words.size() == 2) {
    return "ok " + std::to_string(sim->Telegrams());
  }
  if (op == "wait" && words.size() == 4 && ParseNumber(words[2], 10, &a) &&
      ParseNumber(words[3], 10, &b)) {
    return sim->WaitForTelegrams(a, std::chrono::milliseconds(b))
               ? "ok"
               : "error only " + std::to_string(sim->Telegrams());
  }
  if (op == "resets" && words.size() == 3 && ParseNumber(words[2], 16, &a) &&
      a <= 0xFF) {
    return "ok " +
           std::to_string(sim->controller().Resets(static_cast<uint8_t>(a)));
  }
  if (op == "bytes" && words.size() == 2) {
    const r2600sim::TransportCounters counters = sim->Counters();
    return "ok " + std::to_string(counters.bytes_out + counters.bytes_lost);
  }
  return "error bad request: " + line;
}

int Listen(const std::string& portFile) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
          0 ||
      listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    std::perror("kaviros_wine_sim: listen");
    return -1;
  }
  // Whole under another name first, so that the reader never sees half.
  const std::string partial = portFile + ".partial";
  FILE* file = std::fopen(partial.c_str(), "w");
  if (file == nullptr) return -1;
  std::fprintf(file, "%u\n", ntohs(address.sin_port));
  std::fclose(file);
  if (std::rename(partial.c_str(), portFile.c_str()) != 0) return -1;
  return listener;
}

void Serve(Peer& peer, int listener) {
  int client = -1;
  std::string pending;
  for (;;) {
    pollfd waiters[3] = {
        {STDIN_FILENO, POLLIN, 0}, {listener, POLLIN, 0}, {client, POLLIN, 0}};
    if (poll(waiters, client >= 0 ? 3 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waiters[0].revents != 0) {
      char byte;
      if (read(STDIN_FILENO, &byte, 1) <= 0) break;  // the runner is done
    }
    if ((waiters[1].revents & POLLIN) != 0) {
      const int accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted >= 0) {
        if (client >= 0) close(client);
        client = accepted;
        pending.clear();
      }
      continue;
    }
    if (client < 0 || waiters[2].revents == 0) continue;
    char buffer[512];
    const ssize_t n = read(client, buffer, sizeof buffer);
    if (n <= 0) {
      close(client);
      client = -1;
      continue;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string reply = peer.Answer(line) + "\n";
      if (send(client, reply.data(), reply.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(reply.size())) {
        close(client);
        client = -1;
        break;
      }
    }
  }
  if (client >= 0) close(client);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dosdevices;
  std::string portFile;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--dosdevices") == 0) dosdevices = argv[i + 1];
    if (std::strcmp(argv[i], "--port-file") == 0) portFile = argv[i + 1];
  }
  if (dosdevices.empty() || portFile.empty()) {
    std::fprintf(stderr, "usage: %s --dosdevices DIR --port-file FILE\n",
                 argv[0]);
    return 2;
  }
  const int listener = Listen(portFile);
  if (listener < 0) return 1;
  Peer peer(dosdevices);
  Serve(peer, listener);
  close(listener);
  return 0;
}
