#include "terminal.h"

#include <windows.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace host {

int terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// A console, not merely a character device: _isatty also says yes for NUL (input from
// "< NUL", a scheduled task), where no password can be typed.
bool input_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool read_hidden_line(const std::string& prompt, std::string& line) {
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(input, &saved)) {
    throw std::runtime_error("cannot switch off the terminal's echo");
  }
  // Ctrl+C ends the process; the console then puts its own mode back.
  SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  SetConsoleMode(input, saved);
  std::fputc('\n', stderr);  // the Enter the user typed was not shown
  return read;
}

}  // namespace host
