// Reading XML-RPC responses with expat.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <string>

namespace XmlRpc {
namespace detail {

// Struct and array nesting allowed in a response; deeper replies are refused.
constexpr int kMaxNesting = 64;

// Decodes a <methodResponse> body into `result`: the parameter's value, or for a fault the
// struct with "faultCode" and "faultString" (and *is_fault set, when given). Returns false
// with a reason in `error` (no content of the body) when the body is not a well-formed
// XML-RPC response; `result` is then invalid. A body holding ill-formed UTF-8 or characters
// XML forbids is decoded from a copy in which each of them is U+FFFD.
bool decode_response(const char* data, size_t size, XmlRpcValue& result, std::string& error,
                     bool* is_fault = nullptr);

}  // namespace detail
}  // namespace XmlRpc
