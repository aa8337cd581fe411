// melbax: command-line host for the driver.
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "tool.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  // The first Ctrl-C lets the exchange in progress finish and the port
  // close; a second one ends the program at once.
  struct sigaction action {};
  action.sa_handler = RequestStop;
  action.sa_flags = SA_RESETHAND;  // no SA_RESTART: sleeps end early
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed pipe shows as a failed write, and monitor stops cleanly.
  std::signal(SIGPIPE, SIG_IGN);

  melbax::tool::ToolIo io{std::cout, std::cerr, false, 80, nullptr, {}};
  io.outIsTerminal = isatty(STDOUT_FILENO) != 0;
  winsize size{};
  if (io.outIsTerminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0) {
    io.terminalColumns = size.ws_col;
  }
  io.stop = &stopRequested;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = melbax::tool::RunTool(args, io);
  std::cout.flush();
  return status;
}
