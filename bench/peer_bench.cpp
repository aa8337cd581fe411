// One 16-bit read, round trip, on unpaced pseudo-terminals (the terminal
// moves bytes as fast as it can, so what is timed is software alone):
//
//   kaviros   SingleRead of PI 0x10 through KaviMain to the simulator
//   modbus    modbus_read_registers of one holding register with libmodbus
//             (RTU) to a minimal responder of this program
//
// and, so that both sides can also be seen against the same kind of peer,
// the KaviMain read to a minimal responder too. The contenders take turns
// read by read, so that load from elsewhere on the machine falls on all of
// them alike. Every thread runs on one processor (unless --no-pin), so that
// a round trip is the work on both sides and two switches between them, not
// the luck of wake-ups across processors that other programs keep busy.
// Each contender also runs a stretch of reads alone, and the processor time
// its own thread spends per read (user and system) is reported as well: the
// work of the driver or library and of the system calls it makes.
//
// Options: --transactions N (per contender), --no-pin, --syscalls (each
// contender's reads between markers for strace to count; no figures).
#include <modbus.h>
#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "r2600sim/simulator.h"
#include "rig.h"

namespace kaviros::bench {
namespace {

constexpr uint16_t kValue = 0x1234;
constexpr int kStation = 0x01;
constexpr int kRegister = 0x10;

uint16_t ModbusCrc(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (const uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                           : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

std::vector<uint8_t> WithModbusCrc(std::vector<uint8_t> bytes) {
  const uint16_t crc = ModbusCrc(bytes);
  bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
  bytes.push_back(static_cast<uint8_t>(crc >> 8));
  return bytes;
}

// Read holding register 0x10 of station 1, and its answer.
const std::vector<uint8_t> kModbusRequest =
    WithModbusCrc({kStation, 0x03, 0x00, kRegister, 0x00, 0x01});
const std::vector<uint8_t> kModbusReply =
    WithModbusCrc({kStation, 0x03, 0x02, kValue >> 8, kValue & 0xFF});

// Read PI 0x10 of station 1, and its answer.
const std::vector<uint8_t> kKavirosRequest = {
    0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0x10, 0x01, 0x01, 0x00, 0x9C, 0x16};
const std::vector<uint8_t> kKavirosReply = {0x68, 0x08, 0x08, 0x68, 0x01,
                                            0x00, 0x10, 0x01, 0x01, 0x00,
                                            0x34, 0x12, 0x59, 0x16};

struct Contender {
  std::string name;
  std::function<bool()> read;  // one round trip; false when it failed
  std::vector<double> samples;
  double cpuPerRead = 0;
};

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// A KaviMain read of the 16-bit PI 0x10 on the port of `instance`.
std::function<bool()> KavirosRead(Instance& instance, Variable& variable) {
  return [&instance, &variable] {
    const int32_t result = instance.Call(KAVI_SINGLE_READ, &variable.request);
    uint16_t value = 0;
    std::memcpy(&value, variable.slot + 2, sizeof value);
    if (result != KAVI_OK || value != kValue) {
      std::fprintf(stderr, "kaviros read: result %d, value 0x%x, \"%s\"\n",
                   result, value, LastMessage().c_str());
      return false;
    }
    return true;
  };
}

bool StartKaviros(Instance& instance, Variable& variable,
                  const std::string& path) {
  std::string error;
  if (!instance.Start(DriverPortName(path), 1000, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  if (!Declare(instance, "0110", KAVI_TYPE_UINT16, false, &variable)) {
    std::fprintf(stderr, "the driver refused 0110: %s\n",
                 LastMessage().c_str());
    return false;
  }
  return true;
}

struct Options {
  int transactions = 3000;
  bool pin = true;
  bool syscalls = false;  // only the reads between markers, for strace
};

// Keeps this thread, and every thread it starts later, on the processor it
// runs on now.
bool PinToThisProcessor() {
  const int cpu = sched_getcpu();
  if (cpu < 0) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--transactions" && i + 1 < argc) {
      options->transactions = std::atoi(argv[++i]);
    } else if (arg == "--no-pin") {
      options->pin = false;
    } else if (arg == "--syscalls") {
      options->syscalls = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--transactions N] [--no-pin] [--syscalls]\n",
                   argv[0]);
      return false;
    }
  }
  return options->transactions > 0;
}

int Run(const Options& options) {
  std::string error;
  if (options.pin && !PinToThisProcessor()) {
    std::fprintf(stderr, "cannot keep the threads on one processor: %s\n",
                 std::strerror(errno));
    return 1;
  }

  r2600sim::SimulatorOptions simOptions;
  simOptions.controller.stations = {kStation};
  simOptions.controller.frozen = true;
  r2600sim::Simulator sim(simOptions);
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  sim.controller().SetValue(kStation, kRegister, kValue);

  MinimalResponder kavirosPeer(kKavirosRequest, kKavirosReply);
  MinimalResponder modbusPeer(kModbusRequest, kModbusReply);
  if (!kavirosPeer.Start(&error) || !modbusPeer.Start(&error)) {
    std::fprintf(stderr, "responder: %s\n", error.c_str());
    return 1;
  }

  Instance onSim;
  Variable onSimVariable;
  Instance onMinimal;
  Variable onMinimalVariable;
  if (!StartKaviros(onSim, onSimVariable, sim.Port()) ||
      !StartKaviros(onMinimal, onMinimalVariable, kavirosPeer.Port())) {
    return 1;
  }

  // The controller's line settings; a pseudo-terminal ignores them.
  modbus_t* modbus = modbus_new_rtu(modbusPeer.Port().c_str(), 9600, 'E', 8, 1);
  if (modbus == nullptr || modbus_set_slave(modbus, kStation) != 0 ||
      modbus_connect(modbus) != 0) {
    std::fprintf(stderr, "libmodbus on %s: %s\n", modbusPeer.Port().c_str(),
                 modbus_strerror(errno));
    if (modbus != nullptr) modbus_free(modbus);
    return 1;
  }
  const auto modbusRead = [modbus] {
    uint16_t value = 0;
    if (modbus_read_registers(modbus, kRegister, 1, &value) != 1 ||
        value != kValue) {
      std::fprintf(stderr, "libmodbus read: value 0x%x, %s\n", value,
                   modbus_strerror(errno));
      return false;
    }
    return true;
  };

  std::vector<Contender> contenders = {
      {"kaviros_sim", KavirosRead(onSim, onSimVariable), {}},
      {"kaviros_minimal", KavirosRead(onMinimal, onMinimalVariable), {}},
      {"modbus_minimal", modbusRead, {}},
  };
  bool ok = true;
  for (Contender& contender : contenders) {
    for (int i = 0; i < 20 && ok; ++i) ok = contender.read();
  }
  if (options.syscalls) {
    for (Contender& contender : contenders) {
      SyscallMarker(contender.name, "begin", options.transactions);
      for (int i = 0; i < options.transactions && ok; ++i) {
        ok = contender.read();
      }
      SyscallMarker(contender.name, "end", options.transactions);
    }
  }
  for (int i = 0; i < options.transactions && ok && !options.syscalls; ++i) {
    for (Contender& contender : contenders) {
      const double start = NowSeconds();
      ok = ok && contender.read();
      contender.samples.push_back(NowSeconds() - start);
    }
  }
  for (Contender& contender : contenders) {
    if (options.syscalls) break;
    const double start = ThreadCpuSeconds();
    for (int i = 0; i < options.transactions && ok; ++i) ok = contender.read();
    contender.cpuPerRead = (ThreadCpuSeconds() - start) / options.transactions;
  }
  modbus_close(modbus);
  modbus_free(modbus);
  onSim.Close();
  onMinimal.Close();
  if (!ok) return 1;
  if (options.syscalls) return 0;

  for (const Contender& contender : contenders) {
    Figure("peer." + contender.name + ".us", Median(contender.samples) * 1e6,
           1);
  }
  for (const Contender& contender : contenders) {
    Figure("peer." + contender.name + ".cpu_us", contender.cpuPerRead * 1e6, 1);
  }
  const Contender& kavirosSim = contenders[0];
  const Contender& kavirosMinimal = contenders[1];
  const Contender& modbusRtu = contenders[2];
  const double modbusMedian = Median(modbusRtu.samples);
  Figure("peer.ratio", Median(kavirosSim.samples) / modbusMedian, 3);
  Figure("peer.ratio_minimal", Median(kavirosMinimal.samples) / modbusMedian,
         3);
  Figure("peer.cpu_ratio", kavirosSim.cpuPerRead / modbusRtu.cpuPerRead, 3);
  Figure("peer.cpu_ratio_minimal",
         kavirosMinimal.cpuPerRead / modbusRtu.cpuPerRead, 3);
  return 0;
}

}  // namespace
}  // namespace kaviros::bench

int main(int argc, char** argv) {
  kaviros::bench::Options options;
  if (!kaviros::bench::ParseOptions(argc, argv, &options)) return 2;
  return kaviros::bench::Run(options);
}
