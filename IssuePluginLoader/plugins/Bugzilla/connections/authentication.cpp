#include "authentication.h"

#include "connections.h"
#include "records.h"

#include <XmlRpc/XmlRpcException.h>

#include <memory>

namespace bugzilla {

Authentication authentication_of(const XmlRpc::XmlRpcValue& connection) {
  const XmlRpc::XmlRpcValue* member = connection.find("authentication");
  if (member == nullptr || !member->valid()) return Authentication::Password;
  const std::string kind = member->toText();
  if (kind == "password") return Authentication::Password;
  if (kind == "api_key") return Authentication::ApiKey;
  // Never guess: taking an API key for a password would send it to User.login.
  throw XmlRpc::XmlRpcException("connection member authentication is neither password nor "
                                "api_key");
}

int connection_authentication(const std::string& connections_file_path,
                              const std::string& connection_name, Authentication& kind,
                              std::string& message) {
  XmlRpc::XmlRpcValue connection;
  char* error = nullptr;
  const int found =
      find_connection_in(connections_file_path, connection_name.c_str(), connection, &error);
  const std::unique_ptr<char[]> owned_error(error);  // released as free_string would
  if (found != 0) {
    message = text_or_empty(error);
    return found;
  }
  kind = authentication_of(connection);
  return 0;
}

}  // namespace bugzilla
