// Whose is an API key? Bugzilla 5.0 and later answer User.valid_login {"login", "api_key"}
// with true or false; over REST bugzilla.mozilla.org's GET /whoami names the key's owner
// without the key in a URL, and upstream's GET /valid_login answers where /whoami is unknown. The plug-in asks before it first uses a key; a host's diagnostics can
// ask the same question with a client of their own.
#pragma once

#include "web_service.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace bugzilla {

enum class ApiKeyOwner {
  Login,             // the key belongs to the login
  SomeoneElse,       // the server answered false: a key of another user
  UnknownOrRevoked,  // fault 306: the server does not know the key, or it was revoked
  ServerTooOld,      // the server has no User.valid_login (-32601): older than 5.0
  Failed,            // another fault, a transport failure, or an answer that is no boolean
};

struct ApiKeyCheck {
  ApiKeyOwner owner = ApiKeyOwner::Failed;
  int code = XmlRpc::kExchangeCompleted;  // the transport code of the exchange
  // The answer as it came (a boolean, or the fault struct), with the key taken out of the
  // fault's text should a server quote it.
  XmlRpc::XmlRpcValue reply;
  // One sentence for the user on every outcome; never holds the key. For a fault it is the
  // server's text, for a transport failure the client's, for SomeoneElse and ServerTooOld
  // the plug-in's own words (kept identical to what the exports report).
  std::string message;
};

// Asks `client`'s server once. `login` and `api_key` are sent as they are.
ApiKeyCheck check_api_key(XmlRpc::XmlRpcClient& client, const std::string& login,
                          const std::string& api_key,
                          WebService service = WebService::XmlRpc);

// The messages for a key of someone else and for a server without API keys.
std::string api_key_not_theirs_message(const std::string& login);
std::string api_keys_unsupported_message();

// Puts `mark` wherever `secret` occurs in the "faultString" of a fault reply.
void hide_secret_in_fault(XmlRpc::XmlRpcValue& reply, const std::string& secret,
                          const char* mark = "[API key]");

}  // namespace bugzilla
