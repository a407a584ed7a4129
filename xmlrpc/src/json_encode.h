// Writing JSON request bodies for REST calls.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace XmlRpc {
namespace detail {

// `value` as JSON: a struct as an object, an array as an array, an invalid value as null,
// a date-time as "YYYY-MM-DDTHH:MM:SSZ" text, base64 bytes as their base64 text, a double
// that is not finite as null. Text that is not UTF-8 is taken as Windows-1252, as in XML-RPC
// requests, so that the body is always valid JSON.
std::string encode_json(const XmlRpcValue& value);

}  // namespace detail
}  // namespace XmlRpc
