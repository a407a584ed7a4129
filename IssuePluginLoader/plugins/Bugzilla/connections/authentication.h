// How a connection signs in: with the user's password (User.login, a token and the cookie
// file) or with an API key sent on every call.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace bugzilla {

enum class Authentication { Password, ApiKey };

// The connection's "authentication" member: absent or "password" (the connections reader
// stores it in lower case) is Password, "api_key" is ApiKey. Any other value throws
// XmlRpc::XmlRpcException, as another odd member of the connection does.
Authentication authentication_of(const XmlRpc::XmlRpcValue& connection);

// The authentication of the connection named `connection_name` in the connections file at
// `connections_file_path`, for a host that must know whether to ask for a password or an API
// key. Returns 0 and sets `kind`; otherwise the lookup's code with its message ("Connection
// Not Found", "BugzillaConnections.txt does not exist" and the like) in `message`.
int connection_authentication(const std::string& connections_file_path,
                              const std::string& connection_name, Authentication& kind,
                              std::string& message);

}  // namespace bugzilla
