// The one error type the XML-RPC library raises (a value read as the wrong kind, mostly).
#pragma once

#include <XmlRpc/XmlRpcExport.h>

#include <stdexcept>
#include <string>

namespace XmlRpc {

class XMLRPC_API XmlRpcException : public std::runtime_error {
public:
  explicit XmlRpcException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace XmlRpc
