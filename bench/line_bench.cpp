// Exchanges on a line paced like the controller's: the simulator sends each
// reply byte when a 9600 baud 8E1 line (11 bits per character) would have
// delivered it, and holds each reply back for as long as the request would
// have taken to arrive. So an exchange can take no less than its line time,
// and what it takes beyond that is what the driver (and the terminal, and
// the simulator's own wake-ups) add. To tell these apart, every exchange is
// followed by its replay without the driver (see Replayer) on a second
// simulator, and the difference between the two is reported too.
//
//   kaviros_bench_line                  line-time ratios and wake-ups
//   kaviros_bench_line --syscalls       the same exchanges between marker
//                                       calls, for strace to count
//
// Options: --transactions N (per kind), --baud B (0: unpaced, with
// --syscalls only), --kind NAME (one kind).
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "r2600sim/simulator.h"
#include "rig.h"

namespace kaviros::bench {
namespace {

constexpr double kBitsPerCharacter = 11;

struct Options {
  bool syscalls = false;
  int transactions = 50;
  uint32_t baud = 9600;
  std::string kind;  // empty: every kind
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--syscalls") {
      options->syscalls = true;
    } else if (arg == "--transactions" && i + 1 < argc) {
      options->transactions = std::atoi(argv[++i]);
    } else if (arg == "--baud" && i + 1 < argc) {
      options->baud = static_cast<uint32_t>(std::atol(argv[++i]));
    } else if (arg == "--kind" && i + 1 < argc) {
      options->kind = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--syscalls] [--transactions N] [--baud B] "
                   "[--kind NAME]\n",
                   argv[0]);
      return false;
    }
  }
  // Unpaced (baud 0) only to count system calls: it has no line time.
  return options->transactions > 0 && (options->baud > 0 || options->syscalls);
}

bool Prepare(Instance& instance, const ExchangeKind& kind, Variable* variable) {
  if (!Declare(instance, kind.address, kind.dataType, kind.block, variable)) {
    std::fprintf(stderr, "%s: the driver refused %s: %s\n", kind.name,
                 kind.address, LastMessage().c_str());
    return false;
  }
  std::memcpy(variable->slot + 2, &kind.writeValue, sizeof kind.writeValue);
  return true;
}

bool Exchange(Instance& instance, const ExchangeKind& kind,
              Variable& variable) {
  const int32_t result = instance.Call(kind.command, &variable.request);
  if (result != KAVI_OK || LoggedMessages() != 0) {
    std::fprintf(stderr, "%s: result %d, \"%s\"\n", kind.name, result,
                 LastMessage().c_str());
    return false;
  }
  return true;
}

// The floor: the exchanges the driver made, replayed by plain system calls
// on a second simulator paced alike: purge, write, one wait for the whole
// reply, one read. What the terminal and the simulator cost without the
// driver.
class Replayer {
 public:
  ~Replayer() {
    if (fd_ >= 0) close(fd_);
  }

  bool Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || tcgetattr(fd_, &attributes_) != 0) return false;
    cfmakeraw(&attributes_);
    attributes_.c_cc[VMIN] = 1;
    attributes_.c_cc[VTIME] = 0;
    return tcsetattr(fd_, TCSANOW, &attributes_) == 0;
  }

  bool Replay(const std::vector<TracedExchange>& exchanges) {
    for (const TracedExchange& exchange : exchanges) {
      tcflush(fd_, TCIFLUSH);
      const auto size = static_cast<ssize_t>(exchange.request.size());
      if (write(fd_, exchange.request.data(), exchange.request.size()) !=
          size) {
        return false;
      }
      const uint32_t wanted = exchange.replyBytes;
      if (wanted == 0) continue;
      if (attributes_.c_cc[VMIN] != wanted) {
        attributes_.c_cc[VMIN] = static_cast<cc_t>(wanted);
        if (tcsetattr(fd_, TCSANOW, &attributes_) != 0) return false;
      }
      uint8_t reply[64];
      uint32_t got = 0;
      while (got < wanted && wanted <= sizeof reply) {
        pollfd waiter{fd_, POLLIN, 0};
        if (poll(&waiter, 1, 1000) != 1) return false;
        const ssize_t n = read(fd_, reply + got, wanted - got);
        if (n <= 0) return false;
        got += static_cast<uint32_t>(n);
      }
    }
    return true;
  }

 private:
  int fd_ = -1;
  termios attributes_{};
};

bool StartSimulator(r2600sim::Simulator& sim) {
  std::string error;
  if (sim.Start(&error)) return true;
  std::fprintf(stderr, "simulator: %s\n", error.c_str());
  return false;
}

// Counts system calls: the exchanges of each kind between two markers.
int CountSystemCalls(const Options& options, Instance& instance) {
  for (const ExchangeKind& kind : ExchangeKinds()) {
    if (!options.kind.empty() && options.kind != kind.name) continue;
    Variable variable;
    if (!Prepare(instance, kind, &variable)) return 1;
    for (int i = 0; i < 2; ++i) {
      if (!Exchange(instance, kind, variable)) return 1;
    }
    SyscallMarker(kind.name, "begin", options.transactions);
    for (int i = 0; i < options.transactions; ++i) {
      if (!Exchange(instance, kind, variable)) return 1;
    }
    SyscallMarker(kind.name, "end", options.transactions);
  }
  return 0;
}

// Times each kind through the driver and, turn about, its replay.
int TimeExchanges(const Options& options, Instance& instance, Replayer& floor) {
  const double characterTime = kBitsPerCharacter / options.baud;
  for (const ExchangeKind& kind : ExchangeKinds()) {
    if (!options.kind.empty() && options.kind != kind.name) continue;
    Variable variable;
    if (!Prepare(instance, kind, &variable)) return 1;
    StartRecording();
    const bool recorded = Exchange(instance, kind, variable);
    const std::vector<TracedExchange> exchanges = StopRecording();
    if (!recorded || !Exchange(instance, kind, variable) ||
        !floor.Replay(exchanges)) {
      return 1;
    }
    int32_t lineBytes = 0;
    for (const TracedExchange& exchange : exchanges) {
      lineBytes +=
          static_cast<int32_t>(exchange.request.size() + exchange.replyBytes);
    }
    if (lineBytes != kind.lineBytes) {
      std::fprintf(stderr, "%s: %d bytes on the line, expected %d\n", kind.name,
                   lineBytes, kind.lineBytes);
      return 1;
    }

    std::vector<double> driver;
    std::vector<double> replayed;
    std::vector<double> added;
    int64_t driverSleeps = 0;
    int64_t floorSleeps = 0;
    for (int i = 0; i < options.transactions; ++i) {
      const int64_t sleeps0 = ThreadSleeps();
      const double t0 = NowSeconds();
      const bool ok = Exchange(instance, kind, variable);
      const double t1 = NowSeconds();
      const int64_t sleeps1 = ThreadSleeps();
      const double t2 = NowSeconds();
      if (!ok || !floor.Replay(exchanges)) {
        std::fprintf(stderr, "%s: the replay failed\n", kind.name);
        return 1;
      }
      const double t3 = NowSeconds();
      floorSleeps += ThreadSleeps() - sleeps1;
      driverSleeps += sleeps1 - sleeps0;
      driver.push_back(t1 - t0);
      replayed.push_back(t3 - t2);
      added.push_back((t1 - t0) - (t3 - t2));
    }
    const double lineTime = kind.lineBytes * characterTime;
    const std::string name = std::string("line.") + kind.name;
    const double n = options.transactions;
    Figure(name + ".line_ms", lineTime * 1e3, 3);
    Figure(name + ".ms", Median(driver) * 1e3, 3);
    Figure(name + ".ratio", Median(driver) / lineTime, 4);
    Figure(name + ".floor_ratio", Median(replayed) / lineTime, 4);
    Figure(name + ".added_us", Median(added) * 1e6, 1);
    Figure(std::string("wakeups.") + kind.name,
           static_cast<double>(driverSleeps) / n, 2);
    Figure(std::string("wakeups.") + kind.name + ".floor",
           static_cast<double>(floorSleeps) / n, 2);
  }
  return 0;
}

int Run(const Options& options) {
  // The simulators' threads, started from here, inherit this thread's timer
  // slack: without it the kernel may send each reply byte up to 50 us late,
  // which is the measuring instrument's error, not the driver's.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  r2600sim::SimulatorOptions simOptions;
  simOptions.controller.stations = {0x01};
  simOptions.controller.frozen = true;
  simOptions.baud = options.baud;
  r2600sim::Simulator sim(simOptions);
  r2600sim::Simulator floorSim(simOptions);
  Replayer floor;
  if (!StartSimulator(sim)) return 1;
  if (!options.syscalls &&
      (!StartSimulator(floorSim) || !floor.Open(floorSim.Port()))) {
    std::fprintf(stderr, "no replay on a second simulator\n");
    return 1;
  }
  Instance instance;
  std::string error;
  if (!instance.Start(DriverPortName(sim.Port()), 1000, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int result = options.syscalls ? CountSystemCalls(options, instance)
                                      : TimeExchanges(options, instance, floor);
  instance.Close();
  return result;
}

}  // namespace
}  // namespace kaviros::bench

int main(int argc, char** argv) {
  kaviros::bench::Options options;
  if (!kaviros::bench::ParseOptions(argc, argv, &options)) return 2;
  return kaviros::bench::Run(options);
}
