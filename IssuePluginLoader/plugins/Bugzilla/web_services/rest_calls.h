// Bugzilla's methods over its REST API ("core v1" of Bugzilla 5.0 and later, which
// bugzilla.mozilla.org also serves): each method and its XML-RPC-shaped parameters become one
// or more HTTP requests below the connection's base path, and the JSON reply comes back in the
// shape the XML-RPC method gives, so that nothing above this layer tells the two apart.
#pragma once

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>

namespace bugzilla {

// Requests whose line would pass this are split (Apache refuses lines over 8,191 bytes,
// bugzilla.mozilla.org's server redirects those over 10,239 to its front page).
constexpr size_t kMaxRestRequestLine = 8000;

// One method: "Bugzilla.version", "User.login", "User.logout", "User.valid_login",
// "Bug.search", "Bug.get" (or "Bug.get_bugs"), "Bug.comments", "Bug.fields",
// "Bug.add_comment", "Product.get". A "token" or "api_key" member of the parameter struct goes
// where the server reads it (rest_credentials.h). Returns the transport code; a REST error is
// a fault in `result` as over XML-RPC. A reply that is not the expected JSON is 204 with
// `result` holding {"httpStatus": N} (and "location" for a redirect, without its query) for
// the failure message.
int call_rest(XmlRpc::XmlRpcClient& client, const char* method,
              const XmlRpc::XmlRpcValue& params, XmlRpc::XmlRpcValue& result);

}  // namespace bugzilla
