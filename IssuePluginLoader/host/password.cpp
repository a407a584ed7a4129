#include "password.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace host {

Secret::~Secret() { wipe(); }

Secret& Secret::operator=(Secret&& other) noexcept {
  wipe();
  text_ = std::move(other.text_);
  return *this;
}

void Secret::wipe() {
  // Through a volatile pointer so that the stores are not dropped as dead.
  volatile char* bytes = text_.data();
  for (size_t i = 0; i < text_.size(); ++i) bytes[i] = '\0';
  text_.clear();
}

namespace {

void strip_line_end(std::string& line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
}

Secret from_stream(std::istream& in, const std::string& source) {
  Secret password;
  if (!std::getline(in, password.text()) && password.text().empty()) {
    throw PasswordError("no password in " + source);
  }
  strip_line_end(password.text());
  if (password.text().empty()) throw PasswordError("the first line of " + source + " is empty");
  return password;
}

// The terminal settings to put back if the user interrupts the prompt.
struct termios saved_terminal;

void restore_terminal_and_exit(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

Secret prompt(const std::string& login) {
  std::fprintf(stderr, "Bugzilla password for %s: ", login.c_str());
  std::fflush(stderr);
  if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0) {
    throw PasswordError("cannot switch off the terminal's echo");
  }
  struct termios quiet = saved_terminal;
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  quiet.c_lflag |= ECHONL;
  const auto old_int = std::signal(SIGINT, restore_terminal_and_exit);
  const auto old_term = std::signal(SIGTERM, restore_terminal_and_exit);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  Secret password;
  const bool read = static_cast<bool>(std::getline(std::cin, password.text()));
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_terminal);
  std::signal(SIGINT, old_int);
  std::signal(SIGTERM, old_term);
  if (!read) throw PasswordError("no password entered");
  strip_line_end(password.text());
  return password;
}

}  // namespace

Secret obtain_password(const std::optional<std::string>& password_file, const std::string& login) {
  if (password_file) {
    if (*password_file == "-") return from_stream(std::cin, "standard input");
    std::ifstream file(*password_file, std::ios::binary);
    if (!file) {
      throw PasswordError("cannot read the password file " + *password_file + ": " +
                          std::strerror(errno));
    }
    return from_stream(file, "the password file " + *password_file);
  }
  if (const char* variable = std::getenv("BUGZILLA_PASSWORD")) {
    if (*variable != '\0') return Secret(variable);
  }
  if (isatty(STDIN_FILENO)) return prompt(login);
  throw PasswordError(
      "no password: give --password-file FILE or set BUGZILLA_PASSWORD "
      "(standard input is not a terminal, so there is no prompt)");
}

}  // namespace host
