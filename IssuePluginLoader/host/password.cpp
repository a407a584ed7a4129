#include "password.h"

#include "terminal.h"

#include <XmlRpc/XmlRpcPlatform.h>

#include <cerrno>
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

Secret prompt(const std::string& login) {
  std::fprintf(stderr, "Bugzilla password for %s: ", login.c_str());
  std::fflush(stderr);
  Secret password;
  bool read = false;
  try {
    read = read_line_without_echo(password.text());
  } catch (const std::runtime_error&) {
    throw PasswordError("cannot switch off the terminal's echo");
  }
  if (!read) throw PasswordError("no password entered");
  strip_line_end(password.text());
  return password;
}

}  // namespace

Secret obtain_password(const std::optional<std::string>& password_file, const std::string& login) {
  if (password_file) {
    if (*password_file == "-") return from_stream(std::cin, "standard input");
    std::ifstream file(XmlRpc::platform::file_path(*password_file), std::ios::binary);
    if (!file) {
      throw PasswordError("cannot read the password file " + *password_file + ": " +
                          std::strerror(errno));
    }
    return from_stream(file, "the password file " + *password_file);
  }
  if (const char* variable = std::getenv("BUGZILLA_PASSWORD")) {
    if (*variable != '\0') return Secret(variable);
  }
  if (stdin_is_terminal()) return prompt(login);
  throw PasswordError(
      "no password: give --password-file FILE or set BUGZILLA_PASSWORD "
      "(standard input is not a terminal, so there is no prompt)");
}

}  // namespace host
