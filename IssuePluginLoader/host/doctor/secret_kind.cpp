#include "doctor/secret_kind.h"

#include "authentication.h"

#include <exception>

namespace host {

std::string secret_name_for(const std::string& data_dir, const std::string& connection) {
  bugzilla::Authentication kind = bugzilla::Authentication::Password;
  std::string message;
  try {
    if (bugzilla::connection_authentication(data_dir + "/BugzillaConnections.txt", connection,
                                            kind, message) != 0) {
      return "password";
    }
  } catch (const std::exception&) {
    return "password";
  }
  return kind == bugzilla::Authentication::ApiKey ? "API key" : "password";
}

}  // namespace host
