// melbax as a function of its arguments and streams, so that tests run it
// in-process.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace melbax::tool {

struct ToolIo {
  std::ostream& out;
  std::ostream& err;
  // A terminal gets monitor's live table, anything else CSV lines.
  bool outIsTerminal = false;
  int terminalColumns = 80;
  // Set by a signal handler: monitor stops after the poll in progress.
  const volatile std::sig_atomic_t* stop = nullptr;
  // How monitor waits between polls; by default in short slices, watching
  // `stop`.
  std::function<void(std::chrono::milliseconds)> sleep;
};

// Runs the command line (without the program name) and returns the exit
// status: the worst driver result met, or 2 for bad arguments.
int RunTool(const std::vector<std::string>& args, ToolIo& io);

}  // namespace melbax::tool
