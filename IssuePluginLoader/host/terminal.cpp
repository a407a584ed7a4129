#include "terminal.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#endif

namespace host {

#if defined(_WIN32)

bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

bool read_line_without_echo(std::string& line) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(input, &saved)) throw std::runtime_error("cannot switch off the echo");
  // Ctrl+C still ends the process; the console puts its own mode back then.
  SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  SetConsoleMode(input, saved);
  std::fputc('\n', stderr);  // the Enter the user typed was not shown
  return read;
}

int terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

#else

namespace {

// The terminal settings to put back if the user interrupts the prompt.
struct termios saved_terminal;

void restore_terminal_and_exit(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

bool stdin_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool read_line_without_echo(std::string& line) {
  if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0) {
    throw std::runtime_error("cannot switch off the echo");
  }
  struct termios quiet = saved_terminal;
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  quiet.c_lflag |= ECHONL;
  const auto old_int = std::signal(SIGINT, restore_terminal_and_exit);
  const auto old_term = std::signal(SIGTERM, restore_terminal_and_exit);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_terminal);
  std::signal(SIGINT, old_int);
  std::signal(SIGTERM, old_term);
  return read;
}

int terminal_columns() {
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

#endif

}  // namespace host
