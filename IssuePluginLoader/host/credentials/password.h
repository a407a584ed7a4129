// The user's Bugzilla password, or the API key of a connection that signs in with one: from
// --password-file, else BUGZILLA_PASSWORD, else a prompt without echo on the terminal. Never
// from the command line, never printed.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace host {

class PasswordError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A text that is overwritten before its memory is given back.
class Secret {
public:
  Secret() = default;
  explicit Secret(std::string text) : text_(std::move(text)) {}
  ~Secret();
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  Secret(Secret&& other) noexcept : text_(std::move(other.text_)) {}
  Secret& operator=(Secret&& other) noexcept;

  std::string& text() { return text_; }

private:
  void wipe();
  std::string text_;
};

// `secret` names what is asked for: "password" or "API key". Throws PasswordError when the
// file cannot be read or no source gives one.
Secret obtain_password(const std::optional<std::string>& password_file, const std::string& login,
                       const std::string& secret);

}  // namespace host
