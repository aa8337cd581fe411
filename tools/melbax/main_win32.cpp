// melbax on Windows: the same tool, with the console in place of the
// terminal and Ctrl-C through the console's handler.
#include <windows.h>

#include <csignal>
#include <iostream>

#include "tool.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

// The first Ctrl-C lets the exchange in progress finish and the port close;
// a second one ends the program at once (the default handler).
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (stopRequested != 0) return FALSE;
  stopRequested = 1;
  return TRUE;
}

// Monitor's live table moves the cursor with escape sequences: a console
// that does not take them gets the CSV lines a file gets.
bool ConsoleTakesEscapes(HANDLE out, int& columns) {
  DWORD mode = 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleMode(out, &mode) || !GetConsoleScreenBufferInfo(out, &info)) {
    return false;
  }
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
      !SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    return false;
  }
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  if (width > 0) columns = width;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  melbax::tool::ToolIo io{std::cout, std::cerr, false, 80, nullptr, {}};
  io.outIsTerminal =
      ConsoleTakesEscapes(GetStdHandle(STD_OUTPUT_HANDLE), io.terminalColumns);
  io.stop = &stopRequested;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = melbax::tool::RunTool(args, io);
  std::cout.flush();
  return status;
}
