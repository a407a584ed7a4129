// Which of Bugzilla's web services a connection talks to: XML-RPC (xmlrpc.cgi, the default)
// or the REST API (rest.cgi, or /rest where the server rewrites URLs).
#pragma once

#include <XmlRpc/XmlRpcValue.h>

namespace bugzilla {

enum class WebService { XmlRpc, Rest };

// The connection's "web_service" member: absent or "xmlrpc" (the connections reader stores
// it in lower case) is XmlRpc, "rest" is Rest. Any other value throws
// XmlRpc::XmlRpcException, as another odd member of the connection does.
WebService web_service_of(const XmlRpc::XmlRpcValue& connection);

}  // namespace bugzilla
