// Server calls of a connection that signs in with an API key: no User.login, no token, no
// cookie file; the key goes where the caller put the "token" placeholder.
#pragma once

#include "issue_plugin_api.h"
#include "web_service.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace bugzilla {

// The context's `password` is the key. Before the first call for a server, login and key
// User.valid_login is asked once (remembered by a digest). When the key is not the login's,
// or the server knows no API keys, or the check itself fails, the call is not made: 0 comes
// back with a fault in `result` (code 1 for another user's key; the server's code otherwise)
// or the check's transport code, and the caller reports it as a refused login.
// Otherwise the call is made with "api_key" in place of a "token" member and its transport
// code returned. The key never appears in a fault text handed back.
int call_with_api_key(XmlRpc::XmlRpcClient& client, const RequestContext& context,
                      const char* method, XmlRpc::XmlRpcValue& result,
                      XmlRpc::XmlRpcValue params, WebService service = WebService::XmlRpc);

// The digest that stands for one server, login and key.
std::string api_key_digest(const std::string& server, const std::string& login,
                           const std::string& api_key);

}  // namespace bugzilla
