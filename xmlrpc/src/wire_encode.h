// Writing XML-RPC requests.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace XmlRpc {
namespace detail {

// The <methodCall> document for `method`. An array `params` gives one <param> per element,
// another valid value one <param>, an invalid value none. Always well-formed XML, whatever
// bytes the texts hold (see append_xml_text).
std::string encode_request(const std::string& method, const XmlRpcValue& params);

// Appends one <value> element; an invalid value is written as <nil/>.
void append_value(std::string& out, const XmlRpcValue& value);

// A double in plain positional notation (XML-RPC has no exponents), the shortest text that
// reads back as the same number; "inf", "-inf" and "nan" for the values that have no digits.
std::string format_double(double value);

// Appends the bytes in base64 with padding, no line breaks.
void append_base64(std::string& out, const XmlRpcValue::BinaryData& bytes);

}  // namespace detail
}  // namespace XmlRpc
