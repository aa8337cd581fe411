#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "r2600sim/gate_table.h"

namespace r2600sim {
namespace {

constexpr uint32_t kMaxBaud = 4'000'000;
constexpr uint32_t kMaxMilliseconds = 600'000;

std::string Quote(std::string_view s) {
  std::string quoted(1, '\'');
  quoted.append(s).push_back('\'');
  return quoted;
}

bool ParseUnsigned(std::string_view text, int base, uint64_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value, base);
  return ec == std::errc() && ptr == end;
}

bool ParseHexByte(std::string_view text, uint8_t* value) {
  uint64_t v = 0;
  if (!ParseUnsigned(text, 16, &v) || v > 0xFF) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

bool ParseRange(std::string_view text, uint32_t high, uint32_t* value) {
  uint64_t v = 0;
  if (!ParseUnsigned(text, 10, &v) || v > high) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

std::vector<std::string_view> SplitList(std::string_view text) {
  std::vector<std::string_view> items;
  while (true) {
    const size_t comma = text.find(',');
    items.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return items;
}

bool IsParameter(uint8_t index) {
  return index < kIndexCycleFirst && DefaultWidth(index) != Width::kNone;
}

bool ParseStations(std::string_view text, std::vector<uint8_t>* out,
                   std::string* error) {
  std::vector<uint8_t> stations;
  for (std::string_view item : SplitList(text)) {
    uint8_t st = 0;
    if (!ParseHexByte(item, &st)) {
      *error = "bad station " + Quote(item) +
               ": give two hexadecimal digits, e.g. 01 or 0A";
      return false;
    }
    if (st > kHighestStation) {
      *error = "station " + Quote(item) +
               " cannot be played: FF reaches every station and is never "
               "answered, FB-FE are unused; choose 00 to FA";
      return false;
    }
    if (std::find(stations.begin(), stations.end(), st) == stations.end()) {
      stations.push_back(st);
    }
  }
  *out = std::move(stations);
  return true;
}

bool ParseReadOnly(std::string_view text, std::vector<uint8_t>* out,
                   std::string* error) {
  for (std::string_view item : SplitList(text)) {
    uint8_t index = 0;
    if (!ParseHexByte(item, &index)) {
      *error = "bad parameter index " + Quote(item) +
               " in --read-only: give hexadecimal indices, e.g. 60,64";
      return false;
    }
    if (!IsParameter(index)) {
      *error = "--read-only " + Quote(item) +
               ": the controller has no such parameter";
      return false;
    }
    out->push_back(index);
  }
  return true;
}

bool ParsePreset(std::string_view text,
                 std::vector<std::pair<uint8_t, uint32_t>>* out,
                 std::string* error) {
  const size_t eq = text.find('=');
  uint8_t index = 0;
  if (eq == std::string_view::npos ||
      !ParseHexByte(text.substr(0, eq), &index)) {
    *error = "bad --set " + Quote(text) + ": expected PI=VALUE, e.g. 10=0x1234";
    return false;
  }
  const bool cycle = IsCycleIndex(index);
  if (!IsParameter(index) && !cycle) {
    *error = "--set " + Quote(text) +
             ": the controller has no such parameter (F0-F3 may be set too)";
    return false;
  }
  std::string_view value_text = text.substr(eq + 1);
  const bool negative = !value_text.empty() && value_text.front() == '-';
  if (negative) value_text.remove_prefix(1);
  uint64_t magnitude = 0;
  const unsigned bits =
      8 * static_cast<unsigned>(ValueSize(DefaultWidth(index)));
  const uint64_t span = uint64_t{1} << bits;
  if (!ParseUnsigned(value_text, 10, &magnitude)) {
    *error = "--set " + Quote(text) +
             ": the value must be a number (decimal, negative or 0x-hex)";
    return false;
  }
  if (negative ? magnitude > span / 2 : magnitude >= span) {
    *error = "--set " + Quote(text) + ": the value does not fit the " +
             std::to_string(bits) + "-bit parameter";
    return false;
  }
  const uint64_t raw = negative ? span - magnitude : magnitude;
  out->emplace_back(index, static_cast<uint32_t>(raw & (span - 1)));
  return true;
}

bool ParseChance(std::string_view text, double* p) {
  const bool percent = !text.empty() && text.back() == '%';
  if (percent) text.remove_suffix(1);
  if (text.empty()) return false;
  double v = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end) return false;
  if (percent) v /= 100;
  if (!(v >= 0 && v <= 1)) return false;
  *p = v;
  return true;
}

bool ParseFault(std::string_view text, FaultOptions* faults,
                std::string* error) {
  const size_t eq = text.find('=');
  const auto kind = FaultFromName(text.substr(0, eq));
  if (eq == std::string_view::npos || !kind || *kind == FaultKind::kNone) {
    *error = "bad --fault " + Quote(text) +
             ": expected KIND=P with KIND one of silence delay flip checksum "
             "station truncate extra garbage drop status";
    return false;
  }
  double p = 0;
  if (!ParseChance(text.substr(eq + 1), &p)) {
    *error = "bad --fault " + Quote(text) +
             ": the probability must lie between 0 and 1 (or 0% and 100%)";
    return false;
  }
  faults->probability[static_cast<size_t>(*kind)] = p;
  const double sum = std::accumulate(faults->probability.begin(),
                                     faults->probability.end(), 0.0);
  if (sum > 1 + 1e-9) {
    *error = "the --fault probabilities add up to more than 1";
    return false;
  }
  return true;
}

}  // namespace

ParseResult ParseOptions(std::span<const std::string_view> args,
                         AppOptions* options, std::string* error) {
  AppOptions o;
  SimulatorOptions& sim = o.simulator;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::string_view value;
    bool inline_value = false;
    if (name.starts_with("--")) {
      if (const size_t eq = name.find('='); eq != std::string_view::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inline_value = true;
      }
    }
    // Fetches the option's value: "--x=v" or "--x v".
    auto take = [&]() -> bool {
      if (inline_value) return true;
      if (i + 1 >= args.size()) {
        *error = "option " + std::string(name) + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto flag = [&]() -> bool {
      if (!inline_value) return true;
      *error = "option " + std::string(name) + " takes no value";
      return false;
    };

    if (name == "--help" || name == "-h") {
      return ParseResult::kHelp;
    } else if (name == "--version") {
      return ParseResult::kVersion;
    } else if (name == "--stations" || name == "--station") {
      if (!take() || !ParseStations(value, &sim.controller.stations, error)) {
        return ParseResult::kError;
      }
    } else if (name == "--service-request") {
      if (!flag()) return ParseResult::kError;
      sim.controller.service_request = true;
    } else if (name == "--read-only") {
      if (!take() || !ParseReadOnly(value, &sim.controller.read_only, error)) {
        return ParseResult::kError;
      }
    } else if (name == "--set") {
      if (!take() || !ParsePreset(value, &o.presets, error)) {
        return ParseResult::kError;
      }
    } else if (name == "--freeze") {
      if (!flag()) return ParseResult::kError;
      sim.controller.frozen = true;
    } else if (name == "--baud") {
      if (!take()) return ParseResult::kError;
      if (!ParseRange(value, kMaxBaud, &sim.baud)) {
        *error = "bad --baud " + Quote(value) +
                 ": give bits per second, e.g. 9600 (0: no pacing)";
        return ParseResult::kError;
      }
    } else if (name == "--turnaround" || name == "--delay" ||
               name == "--frame-gap") {
      uint32_t ms = 0;
      if (!take()) return ParseResult::kError;
      if (!ParseRange(value, kMaxMilliseconds, &ms)) {
        *error = "bad " + std::string(name) + " " + Quote(value) +
                 ": give milliseconds, 0 to 600000";
        return ParseResult::kError;
      }
      const std::chrono::milliseconds d(ms);
      if (name == "--turnaround") sim.turnaround = d;
      if (name == "--delay") sim.faults.delay = d;
      if (name == "--frame-gap") sim.frame_gap = d;
    } else if (name == "--fault") {
      if (!take() || !ParseFault(value, &sim.faults, error)) {
        return ParseResult::kError;
      }
    } else if (name == "--script") {
      if (!take()) return ParseResult::kError;
      if (!ParseFaultScript(value, &sim.faults.script, error)) {
        *error = "bad --script: " + *error;
        return ParseResult::kError;
      }
    } else if (name == "--script-repeat") {
      if (!flag()) return ParseResult::kError;
      sim.faults.repeat_script = true;
    } else if (name == "--seed") {
      uint64_t seed = 0;
      if (!take()) return ParseResult::kError;
      if (!ParseUnsigned(value, 10, &seed)) {
        *error = "bad --seed " + Quote(value) + ": give a whole number";
        return ParseResult::kError;
      }
      sim.faults.seed = seed;
      o.seed_given = true;
    } else if (name == "--link") {
      if (!take()) return ParseResult::kError;
      if (value.empty()) {
        *error = "--link needs a path";
        return ParseResult::kError;
      }
      sim.link = std::string(value);
    } else if (name == "--exit-on-eof") {
      if (!flag()) return ParseResult::kError;
      o.exit_on_eof = true;
    } else if (name == "--quiet" || name == "-q") {
      if (!flag()) return ParseResult::kError;
      o.quiet = true;
    } else if (name == "--verbose" || name == "-v") {
      if (!flag()) return ParseResult::kError;
      o.verbose = true;
    } else {
      *error = "unknown option " + Quote(args[i]);
      return ParseResult::kError;
    }
  }
  if (o.quiet && o.verbose) {
    *error = "--quiet and --verbose contradict each other";
    return ParseResult::kError;
  }
  if (sim.controller.stations.empty()) {
    *error = "no station to play";
    return ParseResult::kError;
  }
  if (sim.faults.repeat_script && sim.faults.script.empty()) {
    *error = "--script-repeat needs a --script";
    return ParseResult::kError;
  }
  *options = std::move(o);
  return ParseResult::kRun;
}

std::string VersionText() { return "r2600-sim " R2600SIM_VERSION "\n"; }

std::string HelpText() {
  return R"(Usage: r2600-sim [OPTIONS]

Plays one or more R2600/R2601 process controllers on a pseudo-terminal, so
that the driver and melbax can be run and checked without a plant.

The first line printed is the terminal's path, e.g. /dev/pts/3: give it to
the driver as its port (melbax --port /dev/pts/3 ...). The simulator answers
until Ctrl-C (SIGINT) or SIGTERM and leaves nothing behind. Each station
runs a heating process: F0 actual temperature and F1 setpoint in 0.1 degC,
F2 output in %, F3 deviation; PI 00 is the target setpoint, F5 the
equipment status; PI F4 (reset) and station FF are never answered.

Controllers:
  --stations LIST     station addresses to answer, hexadecimal, separated by
                      commas (default 01), e.g. --stations 01,02,0A
  --set PI=VALUE      preset parameter PI (hexadecimal) on every station;
                      VALUE is decimal, negative or 0x-hexadecimal;
                      repeatable, e.g. --set 10=0x1234 --set 00=-50
  --read-only LIST    parameter indices (hexadecimal) whose writes are
                      refused with the not-ready status bit 08
  --service-request   acknowledge writes with the service-request bit 80,
                      which makes the driver read the value back
  --freeze            keep the process still: F0-F3 and the operating-time
                      counter (PI 21) do not move

Line:
  --baud RATE         send replies no faster than a line at RATE baud,
                      11 bits per character; a pseudo-terminal has no speed
                      of its own (default: no pacing)
  --turnaround MS     think MS milliseconds before each reply (default 0)
  --frame-gap MS      drop an unfinished request after MS milliseconds of
                      quiet (default 100; 0: never)

Faults (at most one per reply):
  --fault KIND=P      give a reply fault KIND with probability P, from 0 to
                      1 or as a percentage (5%); repeatable
  --script LIST       faults for the next replies in order, after which the
                      --fault chances take over, e.g.
                      --script ok,silence,flip,ok*3,delay:2000
  --script-repeat     run the script again and again
  --delay MS          how late a delayed reply comes (default 1500)
  --seed N            seed of the random choices (default: random, shown at
                      start); the same seed and requests give the same faults
  KIND, with its optional argument:
    silence           no reply at all
    delay[:MS]        the reply, MS milliseconds late
    flip[:BYTE]       one bit flipped, in byte BYTE of the reply (from 0)
    checksum          a wrong checksum
    station[:HH]      the reply carries another station address HH (hex)
    truncate[:N]      the last N bytes missing
    extra[:N]         N random bytes after the reply
    garbage[:N]       N random bytes before the reply
    drop[:N]          N bytes missing anywhere
    status[:HH]       status bits HH (hex, default 20) set in the reply
  In a script, ok passes a reply unchanged and STEP*N repeats a step.

Output:
  --link PATH         also make PATH a symbolic link to the terminal; it is
                      removed at exit (an existing file is never replaced)
  --exit-on-eof       also stop when standard input reaches its end
  -q, --quiet         print nothing but the terminal's path
  -v, --verbose       log every request and reply in hex on standard error
  -h, --help          this text
  --version           the version

Exit status: 0 after a clean stop, 1 when the terminal failed, 2 for bad
options.

Examples:
  r2600-sim
  r2600-sim --stations 01,02 --link /tmp/r2600 --verbose
  r2600-sim --fault silence=5% --fault flip=2% --seed 7
  r2600-sim --script silence*4,ok --service-request --read-only 60
)";
}

std::string DescribeSetup(const AppOptions& options) {
  const SimulatorOptions& sim = options.simulator;
  std::string text = "station";
  if (sim.controller.stations.size() > 1) text += "s";
  for (size_t i = 0; i < sim.controller.stations.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", sim.controller.stations[i]);
    text += (i == 0 ? " " : ", ") + std::string(hex);
  }
  text += sim.baud > 0 ? "; paced at " + std::to_string(sim.baud) + " baud"
                       : "; no pacing";
  if (sim.controller.service_request) text += "; writes ask for read-back";
  if (sim.controller.frozen) text += "; process frozen";
  std::string faults;
  for (size_t i = 1; i < kFaultKinds; ++i) {
    const double p = sim.faults.probability[i];
    if (p <= 0) continue;
    char item[48];
    std::snprintf(item, sizeof item, "%s%s %g%%", faults.empty() ? "" : ", ",
                  FaultName(static_cast<FaultKind>(i)), p * 100);
    faults += item;
  }
  if (!sim.faults.script.empty()) {
    faults += (faults.empty() ? "" : ", ") + std::string("a script of ") +
              std::to_string(sim.faults.script.size()) + " steps";
    if (sim.faults.repeat_script) faults += ", repeated";
  }
  text += faults.empty() ? "; no faults"
                         : "; faults: " + faults + " (seed " +
                               std::to_string(sim.faults.seed) + ")";
  return text;
}

}  // namespace r2600sim
