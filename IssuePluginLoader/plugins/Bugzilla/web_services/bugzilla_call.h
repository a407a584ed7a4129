// One Bugzilla method over the connection's web service: the one seam below the session layer.
// Above it, callers speak in Bugzilla's method names with XML-RPC-shaped parameters and
// replies; below it, XML-RPC sends them as they are and REST maps them to its resources.
#pragma once

#include "web_service.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

namespace bugzilla {

// The transport code; the reply, or a fault struct, in `result`.
int call_bugzilla(XmlRpc::XmlRpcClient& client, WebService service, const char* method,
                  const XmlRpc::XmlRpcValue& params, XmlRpc::XmlRpcValue& result);

}  // namespace bugzilla
