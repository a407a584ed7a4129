#include "terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace host {

int terminal_columns() {
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

bool input_is_terminal() { return isatty(STDIN_FILENO) != 0; }

namespace {

// The terminal settings to put back if the user interrupts the prompt.
struct termios saved_terminal;

void restore_terminal_and_exit(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

bool read_hidden_line(const std::string& prompt, std::string& line) {
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0) {
    throw std::runtime_error("cannot switch off the terminal's echo");
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

}  // namespace host
