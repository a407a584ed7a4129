#include "web_service.h"

#include <XmlRpc/XmlRpcException.h>

#include <string>

namespace bugzilla {

WebService web_service_of(const XmlRpc::XmlRpcValue& connection) {
  const XmlRpc::XmlRpcValue* member = connection.find("web_service");
  if (member == nullptr || !member->valid()) return WebService::XmlRpc;
  const std::string kind = member->toText();
  if (kind == "xmlrpc") return WebService::XmlRpc;
  if (kind == "rest") return WebService::Rest;
  throw XmlRpc::XmlRpcException("connection member web_service is neither xmlrpc nor rest");
}

}  // namespace bugzilla
