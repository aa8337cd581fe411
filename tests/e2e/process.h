// Programs run as processes, for the tests of melbax against r2600-sim.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kaviros::e2e {

// What a finished program left.
struct Finished {
  int status = -1;  // exit status; 128 + signal when killed; -1 if it hung
  std::string out;
  std::string err;
};

// Runs `program` with `args` and `extraEnvironment` ("NAME=value") added,
// standard input empty; kills it after `limit`.
Finished RunProgram(const std::string& program,
                    const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnvironment = {},
                    std::chrono::seconds limit = std::chrono::seconds(60));

// r2600-sim as a process. It stops when this object goes, and also when the
// test program dies: it is started with --exit-on-eof on a pipe that only
// this process holds.
class SimulatorProcess {
 public:
  explicit SimulatorProcess(std::vector<std::string> args);
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // The terminal it serves, from the first line of its output; empty when
  // it did not start.
  const std::string& port() const { return port_; }
  // Waits up to twenty seconds for `text` on its standard error (with
  // --verbose it logs every request there).
  bool WaitForError(const std::string& text);
  // Stops it as Ctrl-C would and returns its exit status and standard
  // error (its summary).
  Finished Stop();

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string port_;
  std::string err_;
};

}  // namespace kaviros::e2e
