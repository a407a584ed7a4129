// Where a REST server takes the caller's token or API key. bugzilla.mozilla.org reads them from
// the X-BUGZILLA-TOKEN and X-BUGZILLA-API-KEY headers, so they never sit in a URL (and in its
// access log); upstream Bugzilla 5.0 to 5.2 ignore those headers and would run the call
// anonymously, so there they go as the "token" or "api_key" parameter. Which holds is found
// out once per server with GET /whoami, which only bugzilla.mozilla.org's code answers.
#pragma once

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace bugzilla {

enum class CredentialPlace { Unknown, Headers, Parameters };

struct Credentials {
  std::string token;
  std::string api_key;
  bool empty() const { return token.empty() && api_key.empty(); }
};

// What the plug-in has learnt about `server` (session_server_of the client).
CredentialPlace credential_place(const std::string& server);

// Asks the server who the credentials belong to: GET /whoami with them in a header. A reply
// naming a user ("name") means the server reads the headers; the REST "no such resource"
// answer (32614) means it does not. Either is remembered for the client's server; anything
// else (a refused key, a transport failure) decides nothing. Returns the transport code and
// leaves the reply (or fault) in `reply`.
int ask_who_am_i(XmlRpc::XmlRpcClient& client, const Credentials& credentials,
                 XmlRpc::XmlRpcValue& reply);

}  // namespace bugzilla
