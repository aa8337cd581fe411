#include "options.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace melbax::tool {

const char* const kUsage =
    R"(usage: melbax [OPTIONS] COMMAND [ARGUMENTS]

Reads and writes the parameters of R2600/R2601 process controllers on a
serial line, through the KAVIROS driver.

Commands:
  info                     the driver's device name, banner and default line
  read ADDR[:TYPE]...      read variables and print their values
  write ADDR[:TYPE] VALUE  write one value (decimal, or hexadecimal with 0x)
  block ADDR               read the cycle values F0 to F3 in one exchange
                           (ADDR is the station followed by F0, e.g. 01F0)
  status STATION           read the equipment status byte (F5) of a station
  reset STATION            send the reset telegram (F4) to a station
  monitor ADDR[:TYPE]...   read variables again and again: on a terminal a
                           table updated in place, into a pipe or file one
                           CSV line per poll; Ctrl-C stops

Addresses (hexadecimal, as the controller counts):
  SSPP     station SS (00 to FA, or FF for all) and parameter index PP
  SSPPBB   bit BB (two decimal digits) of that parameter
  e.g. 0110 is parameter 10 of station 01, 011003 its bit 3, 01F0 the first
  cycle value. A station on its own (status, reset) is SS: 01, 1A, FF.

Types (ADDR:TYPE; the default is bit for SSPPBB, int16 for F0 to F3, else
uint16):
  uint16  8- or 16-bit value, 0 to 65535
  int16   8- or 16-bit value, -32768 to 32767 (8-bit values sign-extended)
  int32   32-bit value
  bit     one bit, 0 or 1
  block   the four cycle values F0 to F3

Options:
  -p, --port NAME     serial port: a name under /dev (ttyS0, ttyUSB0, pts/7),
                      a path (/dev/ttyUSB0, or a link to one), or NUL
      --baud N        bits per second (default: the driver's, 9600)
      --data-bits N   4 to 8 (default 8)
      --parity P      none, odd, even, mark or space (default even)
      --stop-bits N   1, 1.5 or 2 (default 1)
      --timeout MS    how long to wait for each reply, in milliseconds
                      (default 1000); a read makes up to five attempts
      --driver PATH   the driver library (default: $KAVIROS_DRIVER, else
                      libkaviros.so beside libmelbax)
      --interval MS   monitor: time from one poll to the next (default 1000)
      --count N       monitor: stop after N polls
      --duration S    monitor: stop after S seconds
      --trace         print every telegram sent (>) and received (<) in hex,
                      with time stamps, on stderr
  -q, --quiet         print no driver messages
  -v, --verbose       print every driver message, with time and level, and
                      what melbax does
  -h, --help          this text

Driver messages go to stderr; by default those of commands that fail or
retry. Exit status: 0 done; 1 refused or failed, port and driver usable
(e.g. a wrong address, a value the controller refused); 2 severe (the port
would not open, no valid answer after all attempts) or bad arguments.

No controller at hand? Start the simulator in another terminal:
  r2600-sim
It prints the port to use, e.g. /dev/pts/3. Then:
  melbax --port /dev/pts/3 read 0110 01F0
  melbax --port /dev/pts/3 monitor 01F0:block 0110 --interval 500
)";

namespace {

struct Parser {
  explicit Parser(const std::vector<std::string>& all) : args(all) {}
  const std::vector<std::string>& args;
  size_t next = 0;
  Options options;
  std::vector<std::string> positional;
  std::map<std::string, bool> seen;
  std::string error;

  bool Fail(std::string message) {
    error = std::move(message);
    return false;
  }
};

// A negative number is a value, not an option.
bool LooksLikeOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' &&
         !std::isdigit(static_cast<unsigned char>(arg[1]));
}

bool ParseBounded(const std::string& option, const std::string& text,
                  int64_t min, int64_t max, int64_t& value,
                  std::string& error) {
  const std::optional<int64_t> parsed = ParseInteger(text);
  if (!parsed || *parsed < min || *parsed > max) {
    error = option + " " + text + ": expected a number from " +
            std::to_string(min) + " to " + std::to_string(max);
    return false;
  }
  value = *parsed;
  return true;
}

bool ParseParity(const std::string& text, uint16_t& code) {
  static const std::map<std::string, uint16_t> kCodes = {
      {"none", 0}, {"n", 0},    {"odd", 1}, {"o", 1},     {"even", 2},
      {"e", 2},    {"mark", 3}, {"m", 3},   {"space", 4}, {"s", 4}};
  std::string lower;
  for (const char c : text) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const auto found = kCodes.find(lower);
  if (found == kCodes.end()) return false;
  code = found->second;
  return true;
}

bool ParseStopBits(const std::string& text, uint16_t& code) {
  if (text == "1") {
    code = 0;
  } else if (text == "1.5") {
    code = 1;
  } else if (text == "2") {
    code = 2;
  } else {
    return false;
  }
  return true;
}

bool ParseDuration(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && seconds > 0 && seconds <= 1e7;
}

bool ApplyOption(Parser& p, const std::string& name, const std::string& value) {
  Options& o = p.options;
  std::string& error = p.error;
  int64_t number = 0;
  if (name == "--port") {
    if (value.empty()) return p.Fail("--port needs a name");
    o.port = value;
  } else if (name == "--baud") {
    // The line record carries the rate as a signed 16-bit number.
    if (!ParseBounded(name, value, 1, INT16_MAX, number, error)) return false;
    o.baud = static_cast<int16_t>(number);
  } else if (name == "--data-bits") {
    if (!ParseBounded(name, value, 4, 8, number, error)) return false;
    o.dataBits = static_cast<uint16_t>(number);
  } else if (name == "--parity") {
    uint16_t code = 0;
    if (!ParseParity(value, code)) {
      return p.Fail("--parity " + value +
                    ": expected none, odd, even, mark or space");
    }
    o.parity = code;
  } else if (name == "--stop-bits") {
    uint16_t code = 0;
    if (!ParseStopBits(value, code)) {
      return p.Fail("--stop-bits " + value + ": expected 1, 1.5 or 2");
    }
    o.stopBits = code;
  } else if (name == "--timeout") {
    if (!ParseBounded(name, value, 1, 60000, number, error)) return false;
    o.timeoutMs = static_cast<uint32_t>(number);
  } else if (name == "--driver") {
    if (value.empty()) return p.Fail("--driver needs a path");
    o.driverPath = value;
  } else if (name == "--interval") {
    if (!ParseBounded(name, value, 0, 86400000, number, error)) return false;
    o.intervalMs = number;
  } else if (name == "--count") {
    if (!ParseBounded(name, value, 1, INT32_MAX, number, error)) return false;
    o.count = number;
  } else if (name == "--duration") {
    double seconds = 0;
    if (!ParseDuration(value, seconds)) {
      return p.Fail("--duration " + value +
                    ": expected a number of seconds greater than 0");
    }
    o.durationS = seconds;
  }
  return true;
}

bool TakesValue(const std::string& name) {
  return name == "--port" || name == "--baud" || name == "--data-bits" ||
         name == "--parity" || name == "--stop-bits" || name == "--timeout" ||
         name == "--driver" || name == "--interval" || name == "--count" ||
         name == "--duration";
}

std::string LongName(const std::string& arg) {
  if (arg == "-p") return "--port";
  if (arg == "-q") return "--quiet";
  if (arg == "-v") return "--verbose";
  if (arg == "-h") return "--help";
  return arg;
}

bool ParseOption(Parser& p, const std::string& arg) {
  std::string name = LongName(arg);
  std::optional<std::string> value;
  if (const auto equals = name.find('=');
      name.starts_with("--") && equals != std::string::npos) {
    value = name.substr(equals + 1);
    name = name.substr(0, equals);
  }
  if (TakesValue(name)) {
    if (!value) {
      if (p.next >= p.args.size()) return p.Fail(name + " needs a value");
      value = p.args[p.next++];
    }
    p.seen[name] = true;
    return ApplyOption(p, name, *value);
  }
  if (value) return p.Fail(name + " takes no value");
  Options& o = p.options;
  if (name == "--help") {
    o.command = Command::kHelp;
    p.seen[name] = true;
  } else if (name == "--trace") {
    o.trace = true;
  } else if (name == "--quiet") {
    o.verbosity = Verbosity::kQuiet;
  } else if (name == "--verbose") {
    o.verbosity = Verbosity::kVerbose;
  } else {
    return p.Fail("unknown option " + arg);
  }
  return true;
}

bool ParseTarget(const std::string& arg, Target& target, std::string& error) {
  target.label = arg;
  const auto colon = arg.rfind(':');
  target.address = arg.substr(0, colon);
  if (colon == std::string::npos) {
    target.type = DefaultType(arg);
    return true;
  }
  const std::string name = arg.substr(colon + 1);
  const std::optional<DataType> type = DataTypeFromName(name);
  if (!type) {
    error = "unknown type '" + name + "' in " + arg +
            " (types: uint16, int16, int32, bit, block)";
    return false;
  }
  target.type = *type;
  return true;
}

bool ParseStation(const std::string& arg, int& station, std::string& error) {
  std::string digits = arg;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits = digits.substr(2);
  }
  bool valid = !digits.empty() && digits.size() <= 2;
  for (const char c : digits) {
    valid = valid && std::isxdigit(static_cast<unsigned char>(c));
  }
  if (!valid) {
    error = "station '" + arg + "': expected two hexadecimal digits, 00 to FF";
    return false;
  }
  station = static_cast<int>(std::strtol(digits.c_str(), nullptr, 16));
  return true;
}

const std::map<std::string, Command> kCommands = {
    {"help", Command::kHelp},   {"info", Command::kInfo},
    {"read", Command::kRead},   {"write", Command::kWrite},
    {"block", Command::kBlock}, {"status", Command::kStatus},
    {"reset", Command::kReset}, {"monitor", Command::kMonitor}};

bool ParsePositional(Parser& p) {
  Options& o = p.options;
  std::string& error = p.error;
  if (p.positional.empty()) {
    return p.Fail("no command given");
  }
  const std::string& word = p.positional[0];
  const auto found = kCommands.find(word);
  if (found == kCommands.end()) return p.Fail("unknown command '" + word + "'");
  o.command = found->second;
  const std::vector<std::string> args(p.positional.begin() + 1,
                                      p.positional.end());
  switch (o.command) {
    case Command::kHelp:
      return true;
    case Command::kInfo:
      if (!args.empty()) return p.Fail("info takes no arguments");
      return true;
    case Command::kRead:
    case Command::kMonitor:
      if (args.empty()) return p.Fail(word + " needs at least one address");
      for (const std::string& arg : args) {
        Target target;
        if (!ParseTarget(arg, target, error)) return false;
        o.targets.push_back(target);
      }
      return true;
    case Command::kWrite: {
      if (args.size() != 2) return p.Fail("write takes ADDR[:TYPE] VALUE");
      Target target;
      if (!ParseTarget(args[0], target, error)) return false;
      const std::optional<ValueRange> range = RangeOf(target.type);
      if (!range) return p.Fail("a block cannot be written");
      const std::optional<int64_t> value = ParseInteger(args[1]);
      if (!value) {
        return p.Fail("value '" + args[1] +
                      "' is not a number (decimal, or hexadecimal with 0x)");
      }
      if (*value < range->min || *value > range->max) {
        return p.Fail("value " + args[1] + " is out of range for " +
                      DataTypeName(target.type) + " (" +
                      std::to_string(range->min) + " to " +
                      std::to_string(range->max) + ")");
      }
      o.targets.push_back(target);
      o.value = *value;
      return true;
    }
    case Command::kBlock: {
      if (args.size() != 1) return p.Fail("block takes one address");
      Target target;
      if (!ParseTarget(args[0], target, error)) return false;
      if (target.label != target.address && target.type != DataType::kBlock) {
        return p.Fail("block reads the type block only, not " + args[0]);
      }
      target.type = DataType::kBlock;
      o.targets.push_back(target);
      return true;
    }
    case Command::kStatus:
    case Command::kReset:
      if (args.size() != 1) return p.Fail(word + " takes one station");
      return ParseStation(args[0], o.station, error);
  }
  return true;
}

bool CheckCombination(Parser& p) {
  if (p.options.command != Command::kMonitor) {
    for (const char* name : {"--interval", "--count", "--duration"}) {
      if (p.seen.contains(name)) {
        return p.Fail(std::string(name) + " applies to monitor only");
      }
    }
  }
  return true;
}

}  // namespace

DataType DefaultType(const std::string& address) {
  if (address.size() == 6) return DataType::kBit;
  if (address.size() >= 4) {
    const char high =
        static_cast<char>(std::toupper(static_cast<unsigned char>(address[2])));
    const char low = address[3];
    if (high == 'F' && low >= '0' && low <= '3') return DataType::kInt16;
  }
  return DataType::kUint16;
}

std::optional<int64_t> ParseInteger(const std::string& text) {
  size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
    negative = text[at] == '-';
    ++at;
  }
  int base = 10;
  if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) {
    base = 16;
    at += 2;
  }
  if (at >= text.size()) return std::nullopt;
  // Far beyond every type's range, and safe from overflow.
  constexpr int64_t kLimit = int64_t{1} << 40;
  int64_t value = 0;
  for (; at < text.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    int digit = 0;
    if (std::isdigit(c)) {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(c)) {
      digit = std::tolower(c) - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > kLimit) return std::nullopt;
  }
  return negative ? -value : value;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  Parser p(args);
  bool onlyPositional = false;
  while (p.next < args.size()) {
    const std::string& arg = args[p.next++];
    if (!onlyPositional && arg == "--") {
      onlyPositional = true;
    } else if (!onlyPositional && LooksLikeOption(arg)) {
      if (!ParseOption(p, arg)) return {std::nullopt, p.error};
    } else {
      p.positional.push_back(arg);
    }
  }
  if (p.seen.contains("--help")) {
    p.options.command = Command::kHelp;
    return {p.options, {}};
  }
  if (!ParsePositional(p) || !CheckCombination(p)) {
    return {std::nullopt, p.error};
  }
  return {p.options, {}};
}

}  // namespace melbax::tool
