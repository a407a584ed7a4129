#include "bugzilla_call.h"

#include "rest_calls.h"

namespace bugzilla {

int call_bugzilla(XmlRpc::XmlRpcClient& client, WebService service, const char* method,
                  const XmlRpc::XmlRpcValue& params, XmlRpc::XmlRpcValue& result) {
  if (service == WebService::Rest) return call_rest(client, method, params, result);
  return client.execute(method, params, result);
}

}  // namespace bugzilla
