// Command-line options of r2600-sim.
#ifndef R2600SIM_APP_OPTIONS_H
#define R2600SIM_APP_OPTIONS_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "r2600sim/simulator.h"

namespace r2600sim {

struct AppOptions {
  SimulatorOptions simulator;
  // --set: parameter values given on the command line, for every station.
  std::vector<std::pair<uint8_t, uint32_t>> presets;
  bool seed_given = false;
  bool quiet = false;
  bool verbose = false;
  bool exit_on_eof = false;
};

enum class ParseResult { kRun, kHelp, kVersion, kError };

// The arguments after the program name.
ParseResult ParseOptions(std::span<const std::string_view> args,
                         AppOptions* options, std::string* error);

std::string HelpText();
std::string VersionText();

// "stations 01, 02; no pacing; faults: silence 5% (seed 7)".
std::string DescribeSetup(const AppOptions& options);

}  // namespace r2600sim

#endif  // R2600SIM_APP_OPTIONS_H
