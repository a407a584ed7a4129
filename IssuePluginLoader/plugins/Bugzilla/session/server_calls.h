// One Bugzilla server call: client set-up, login reuse or renewal, failure codes and texts.
#pragma once

#include "authentication.h"
#include "session.h"
#include "web_service.h"
#include "issue_plugin_api.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <memory>
#include <string>

namespace bugzilla {

// Captions of the operations, used in transport failure messages.
extern const char kCaptionBugSearch[];     // "Bug Search"
extern const char kCaptionGetComments[];   // "Get Comments"
extern const char kCaptionVersion[];       // "Bugzilla Version"
extern const char kCaptionGetBugs[];       // "Get Bugs"
extern const char kCaptionBugFields[];     // "Bug Fields"
extern const char kCaptionAddComment[];    // "Add Comment"

// A client for the connection struct, with the connection's optional timeouts, size limit
// and TLS settings. The session gives it its cookie file when it makes a call.
std::unique_ptr<XmlRpc::XmlRpcClient> prepare_client(XmlRpc::XmlRpcValue& connection);

// Where a call's credentials go: the parameter struct, or the struct that is the array's
// first element. Null when the call has no struct (Bugzilla.version): it carries none.
XmlRpc::XmlRpcValue* credential_holder(XmlRpc::XmlRpcValue& params);

// The one place a credential joins a call: the login token as "token", or the API key as
// "api_key", in the credential_holder, replacing any there. An empty one is left out: servers
// that sign in by cookie refuse even an empty token.
void put_credential(XmlRpc::XmlRpcValue& params, Authentication authentication,
                    const std::string& secret);

// Password connections: reuses `session` when its cookie file exists and is not expired,
// and it was made for this login on this client's server and holds a token; otherwise
// deletes the cookie file and logs in on a copy of the client first. Then makes the call on
// `client`, which takes the session's cookie file. The current token goes into the call's
// parameter struct (credential_holder) just before the call, and is left out when it is
// empty. When a reused session turns out to have ended on the server (fault 32000, or 410
// from servers that run the call anonymously), the cookie file is deleted, one login made and
// the call repeated once; never after a login made in this call. Returns the transport code
// of the last exchange; 0 without the call when the login was refused (its fault in `result`).
// API-key connections go to call_with_api_key (api_key_calls.h).
int call_with_login(Session& session, XmlRpc::XmlRpcClient& client,
                    const RequestContext& context, const char* method,
                    XmlRpc::XmlRpcValue& result, XmlRpc::XmlRpcValue params,
                    Authentication authentication,
                    WebService service = WebService::XmlRpc);

// The identity of the server a client talks to (host, port and web service path), kept beside
// the session's login so that one server's token is never sent to another.
std::string session_server_of(const XmlRpc::XmlRpcClient& client);

// "User.login" with the context's login and password on a copy of the caller's client. On
// success `session` takes the login, the reply's "token" (empty when absent) and the server.
int login_user(Session& session, XmlRpc::XmlRpcClient client_copy,
               const RequestContext& context, XmlRpc::XmlRpcValue& result,
               WebService service = WebService::XmlRpc);

// True when the call failed: a transport code other than 0, or a fault reply.
bool call_failed(int code, const XmlRpc::XmlRpcValue& result);

// The failure code of a failed call, and a new message in *message_out: the fault's
// "faultString" (code 1 for a "Client" fault, else the number the "faultCode" text starts
// with), or the caption in a transport message for 202, 203 and 204. Other codes: no message.
int describe_call_failure(int code, const char* caption, char** message_out,
                          XmlRpc::XmlRpcValue result);

// A new text (array new) of `format` with `argument` for its single "%s".
char* format_message(const char* format, const char* argument);

// The message for a reply that holds a member of an unexpected kind (the value type raised
// XmlRpc::XmlRpcException while it was read): names the operation's caption.
char* reply_not_understood(const char* caption);

}  // namespace bugzilla
