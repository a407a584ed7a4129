#include "wire_encode.h"

#include "utf8_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace XmlRpc {
namespace detail {

namespace {

// The value type reads scalars only through its growing accessors. They change nothing when the
// kind already matches, which every call below checks first.
XmlRpcValue& readable(const XmlRpcValue& value) { return const_cast<XmlRpcValue&>(value); }

void append_int(std::string& out, long long number) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, number);
  out.append(digits, result.ptr);
}

void append_two_digits(std::string& out, int number) {
  if (number >= 0 && number < 10) out.push_back('0');
  append_int(out, number);
}

void append_date_time(std::string& out, const std::tm& time) {
  // The value holds the full year and the month counted from 1, exactly as written here.
  char year[16];
  std::snprintf(year, sizeof year, "%04d", time.tm_year);
  out += year;
  append_two_digits(out, time.tm_mon);
  append_two_digits(out, time.tm_mday);
  out.push_back('T');
  append_two_digits(out, time.tm_hour);
  out.push_back(':');
  append_two_digits(out, time.tm_min);
  out.push_back(':');
  append_two_digits(out, time.tm_sec);
}

void append_text(std::string& out, const std::string& text) {
  append_xml_text(out, text.data(), text.size());
}

}  // namespace

void append_base64(std::string& out, const XmlRpcValue::BinaryData& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(kAlphabet[(group >> 6) & 63]);
    out.push_back(kAlphabet[group & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = uint32_t{bytes[i]} << 16;
    if (rest == 2) group |= uint32_t{bytes[i + 1]} << 8;
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    out.push_back('=');
  }
}

std::string format_double(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // Fixed notation, shortest round trip: at most 309 integer digits or 1074 fraction digits.
  char digits[1100];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return "0";
  return std::string(digits, result.ptr);
}

void append_value(std::string& out, const XmlRpcValue& value) {
  out += "<value>";
  switch (value.getType()) {
    case XmlRpcValue::TypeInvalid:
      out += "<nil/>";
      break;
    case XmlRpcValue::TypeBoolean:
      out += readable(value).asBool() ? "<boolean>1</boolean>" : "<boolean>0</boolean>";
      break;
    case XmlRpcValue::TypeInt:
      out += "<int>";
      append_int(out, readable(value).asInt());
      out += "</int>";
      break;
    case XmlRpcValue::TypeDouble:
      out += "<double>";
      out += format_double(readable(value).asDouble());
      out += "</double>";
      break;
    case XmlRpcValue::TypeString:
      out += "<string>";
      append_text(out, value.stringValue());
      out += "</string>";
      break;
    case XmlRpcValue::TypeDateTime:
      out += "<dateTime.iso8601>";
      append_date_time(out, readable(value).asDateTime());
      out += "</dateTime.iso8601>";
      break;
    case XmlRpcValue::TypeBase64:
      out += "<base64>";
      append_base64(out, readable(value).asBinary());
      out += "</base64>";
      break;
    case XmlRpcValue::TypeArray:
      out += "<array><data>";
      for (const XmlRpcValue& element : value.arrayValue()) append_value(out, element);
      out += "</data></array>";
      break;
    case XmlRpcValue::TypeStruct:
      out += "<struct>";
      for (const auto& member : value.structValue()) {
        out += "<member><name>";
        append_text(out, member.first);
        out += "</name>";
        append_value(out, member.second);
        out += "</member>";
      }
      out += "</struct>";
      break;
  }
  out += "</value>";
}

std::string encode_request(const std::string& method, const XmlRpcValue& params) {
  std::string out;
  out.reserve(256);
  out += "<?xml version=\"1.0\"?>\n<methodCall><methodName>";
  append_text(out, method);
  out += "</methodName><params>";
  if (params.getType() == XmlRpcValue::TypeArray) {
    for (const XmlRpcValue& element : params.arrayValue()) {
      out += "<param>";
      append_value(out, element);
      out += "</param>";
    }
  } else if (params.valid()) {
    out += "<param>";
    append_value(out, params);
    out += "</param>";
  }
  out += "</params></methodCall>\n";
  return out;
}

}  // namespace detail
}  // namespace XmlRpc
