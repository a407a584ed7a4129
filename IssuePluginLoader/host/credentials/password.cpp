#include "credentials/password.h"

#include "platform/terminal.h"

#include <cerrno>
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

Secret prompt(const std::string& login, const std::string& secret) {
  Secret password;
  std::string& line = password.text();
  bool read = false;
  try {
    read = read_hidden_line("Bugzilla " + secret + " for " + login + ": ", line);
  } catch (const std::runtime_error& error) {
    throw PasswordError(error.what());
  }
  if (!read) throw PasswordError("no " + secret + " entered");
  strip_line_end(line);
  return password;
}

}  // namespace

Secret obtain_password(const std::optional<std::string>& password_file, const std::string& login,
                      const std::string& secret) {
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
  if (input_is_terminal()) return prompt(login, secret);
  throw PasswordError(
      "no " + secret + ": give --password-file FILE or set BUGZILLA_PASSWORD "
      "(standard input is not a terminal, so there is no prompt)");
}

}  // namespace host
