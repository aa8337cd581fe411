// The command line of melbax, parsed and checked before any driver call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "melbax/instance.h"

namespace melbax::tool {

enum class Command {
  kHelp,
  kInfo,
  kRead,
  kWrite,
  kBlock,
  kStatus,
  kReset,
  kMonitor
};

enum class Verbosity { kQuiet, kNormal, kVerbose };

// ADDR[:TYPE] as given; the type is the named one or the default for the
// address.
struct Target {
  std::string address;
  DataType type;
  std::string label;  // ADDR:TYPE as the user wrote it
};

struct Options {
  Command command = Command::kHelp;
  std::vector<Target> targets;  // read, write, block, monitor
  int64_t value = 0;            // write
  int station = 0;              // status, reset

  std::string port;  // empty: none given
  std::optional<int16_t> baud;
  std::optional<uint16_t> dataBits;
  std::optional<uint16_t> parity;    // line-record code
  std::optional<uint16_t> stopBits;  // line-record code
  uint32_t timeoutMs = 1000;
  std::string driverPath;  // empty: the default
  bool trace = false;
  Verbosity verbosity = Verbosity::kNormal;

  int64_t intervalMs = 1000;
  std::optional<int64_t> count;
  std::optional<double> durationS;
};

// Options, or the message that explains what is wrong (exit status 2).
struct ParseResult {
  std::optional<Options> options;
  std::string error;
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The type an address gets when none is named: a bit when it has a bit
// number, int16 for the cycle values F0 to F3, else uint16.
DataType DefaultType(const std::string& address);

// Decimal or 0x hexadecimal, with an optional sign.
std::optional<int64_t> ParseInteger(const std::string& text);

extern const char* const kUsage;

}  // namespace melbax::tool
