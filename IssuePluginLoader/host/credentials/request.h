// The RequestContext of one command: login, password and connection name, owned by the host
// for the length of the export call.
#pragma once

#include "commands/options.h"
#include "issue_plugin_api.h"
#include "credentials/password.h"

#include <string>

namespace host {

class Request {
public:
  // Asks for the password (password.h); throws PasswordError.
  explicit Request(const Options& options);
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
