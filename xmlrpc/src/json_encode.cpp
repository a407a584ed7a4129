#include "json_encode.h"

#include "utf8_text.h"
#include "wire_encode.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace XmlRpc {
namespace detail {

namespace {

// Scalars are read through the growing accessors, which change nothing when the kind matches.
XmlRpcValue& readable(const XmlRpcValue& value) { return const_cast<XmlRpcValue&>(value); }

void append_string(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p < end) {
    const unsigned char byte = *p;
    if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
      out.push_back(static_cast<char>(byte));
      ++p;
      continue;
    }
    if (byte < 0x80) {
      out.push_back('\\');
      switch (byte) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '\n': out.push_back('n'); break;
        case '\r': out.push_back('r'); break;
        case '\t': out.push_back('t'); break;
        default:
          out += "u00";
          out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 15]);
          break;
      }
      ++p;
      continue;
    }
    const Utf8Step step = next_utf8(p, end);
    if (step.valid) {
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(step.length));
    } else {
      for (int i = 0; i < step.length; ++i) append_utf8(out, windows1252_to_unicode(p[i]));
    }
    p += step.length;
  }
  out.push_back('"');
}

void append_json(std::string& out, const XmlRpcValue& value) {
  switch (value.getType()) {
    case XmlRpcValue::TypeInvalid:
      out += "null";
      break;
    case XmlRpcValue::TypeBoolean:
      out += readable(value).asBool() ? "true" : "false";
      break;
    case XmlRpcValue::TypeInt: {
      char digits[16];
      const auto result = std::to_chars(digits, digits + sizeof digits, readable(value).asInt());
      out.append(digits, result.ptr);
      break;
    }
    case XmlRpcValue::TypeDouble: {
      const double number = readable(value).asDouble();
      char digits[32];
      const auto result = std::to_chars(digits, digits + sizeof digits, number);
      if (!std::isfinite(number) || result.ec != std::errc()) {
        out += "null";  // JSON has no infinity or NaN
      } else {
        out.append(digits, result.ptr);
        // A fraction keeps it a double when read back ("2.0", not the integer 2).
        if (std::string_view(digits, static_cast<size_t>(result.ptr - digits))
                .find_first_of(".e") == std::string_view::npos) {
          out += ".0";
        }
      }
      break;
    }
    case XmlRpcValue::TypeString:
      append_string(out, value.stringValue());
      break;
    case XmlRpcValue::TypeDateTime: {
      const std::tm& t = readable(value).asDateTime();
      char text[96];
      std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02dZ\"", t.tm_year, t.tm_mon,
                    t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
      out += text;
      break;
    }
    case XmlRpcValue::TypeBase64:
      out.push_back('"');
      append_base64(out, readable(value).asBinary());
      out.push_back('"');
      break;
    case XmlRpcValue::TypeArray: {
      out.push_back('[');
      bool first = true;
      for (const XmlRpcValue& element : value.arrayValue()) {
        if (!first) out.push_back(',');
        first = false;
        append_json(out, element);
      }
      out.push_back(']');
      break;
    }
    case XmlRpcValue::TypeStruct: {
      out.push_back('{');
      bool first = true;
      for (const auto& member : value.structValue()) {
        if (!first) out.push_back(',');
        first = false;
        append_string(out, member.first);
        out.push_back(':');
        append_json(out, member.second);
      }
      out.push_back('}');
      break;
    }
  }
}

}  // namespace

std::string encode_json(const XmlRpcValue& value) {
  std::string out;
  append_json(out, value);
  return out;
}

}  // namespace detail
}  // namespace XmlRpc
