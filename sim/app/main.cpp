// r2600-sim: R2600/R2601 controllers on a pseudo-terminal.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "r2600sim/simulator.h"

namespace {

using r2600sim::AppOptions;
using r2600sim::FaultKind;
using r2600sim::Simulator;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void PrintSummary(Simulator& sim) {
  const auto c = sim.controller().Counters();
  std::string faults;
  const auto counts = sim.faults().Counts();
  for (size_t i = 1; i < r2600sim::kFaultKinds; ++i) {
    if (counts[i] == 0) continue;
    faults += " " +
              std::string(r2600sim::FaultName(static_cast<FaultKind>(i))) +
              " " + std::to_string(counts[i]);
  }
  std::fprintf(stderr,
               "r2600-sim: stopped; %llu requests, %llu replies, %llu not for "
               "these stations, %llu ignored; faults:%s\n",
               static_cast<unsigned long long>(c.requests),
               static_cast<unsigned long long>(c.replies),
               static_cast<unsigned long long>(c.other_station),
               static_cast<unsigned long long>(c.rejected),
               faults.empty() ? " none" : faults.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  AppOptions app;
  std::string error;
  switch (r2600sim::ParseOptions(args, &app, &error)) {
    case r2600sim::ParseResult::kHelp:
      std::fputs(r2600sim::HelpText().c_str(), stdout);
      return 0;
    case r2600sim::ParseResult::kVersion:
      std::fputs(r2600sim::VersionText().c_str(), stdout);
      return 0;
    case r2600sim::ParseResult::kError:
      std::fprintf(stderr, "r2600-sim: %s\nTry 'r2600-sim --help' for more.\n",
                   error.c_str());
      return kExitUsage;
    case r2600sim::ParseResult::kRun:
      break;
  }
  if (!app.seed_given) app.simulator.faults.seed = std::random_device{}();
  if (app.verbose) {
    app.simulator.trace = [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
    };
  }

  // A reader of our output going away must not kill us before cleaning up.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
  // Stop requests arrive as readable events, in every thread blocked.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  const int signal_fd = signalfd(-1, &stops, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::perror("r2600-sim: signalfd");
    return kExitFailure;
  }

  Simulator sim(app.simulator);
  for (uint8_t station : sim.controller().Stations()) {
    for (const auto& [index, value] : app.presets) {
      sim.controller().SetValue(station, index, value);
    }
  }
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "r2600-sim: %s\n", error.c_str());
    return kExitFailure;
  }
  std::printf("%s\n", sim.Port().c_str());
  std::fflush(stdout);
  if (!app.quiet) {
    std::string link;
    if (!sim.Link().empty()) link = " (link " + sim.Link() + ")";
    std::fprintf(stderr,
                 "r2600-sim: controllers on %s%s: %s.\n"
                 "r2600-sim: give the driver this port; Ctrl-C stops.\n",
                 sim.Port().c_str(), link.c_str(),
                 r2600sim::DescribeSetup(app).c_str());
  }

  int status = 0;
  bool watch_stdin = app.exit_on_eof;
  while (true) {
    pollfd fds[3] = {{signal_fd, POLLIN, 0},
                     {sim.DoneFd(), POLLIN, 0},
                     {watch_stdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("r2600-sim: poll");
      status = kExitFailure;
      break;
    }
    if (fds[0].revents != 0) {
      signalfd_siginfo info{};
      [[maybe_unused]] const ssize_t n = read(signal_fd, &info, sizeof info);
      break;
    }
    if (fds[1].revents != 0) {
      std::fprintf(stderr, "r2600-sim: %s\n", sim.Failure().c_str());
      status = kExitFailure;
      break;
    }
    if (fds[2].revents != 0) {
      char discard[256];
      const ssize_t n = read(STDIN_FILENO, discard, sizeof discard);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        if (!app.quiet) {
          std::fprintf(stderr, "r2600-sim: standard input closed\n");
        }
        break;
      }
    }
  }
  sim.Stop();
  close(signal_fd);
  if (!app.quiet) PrintSummary(sim);
  return status;
}
