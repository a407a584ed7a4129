// The RequestContext of one command: login, password (or API key) and connection name, owned by the host
// for the length of the export call.
#pragma once

#include "commands/options.h"
#include "issue_plugin_api.h"
#include "credentials/password.h"

#include <string>

namespace host {

class Request {
public:
  // Asks for the password, or the API key when `connection` signs in with one (password.h);
  // throws PasswordError.
  Request(const Options& options, const std::string& connection);
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  RequestContext* context() { return &context_; }

private:
  std::string login_;
  Secret password_;
  std::string connection_;
  RequestContext context_{};
};

}  // namespace host
