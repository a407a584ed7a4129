#include "reply_reading.h"

#include "records.h"

#include <XmlRpc/XmlRpcException.h>

namespace bugzilla {

using XmlRpc::XmlRpcException;
using XmlRpc::XmlRpcValue;

namespace {

[[noreturn]] void wrong_kind(const char* expected) {
  throw XmlRpcException(std::string("reply value is not ") + expected);
}

}  // namespace

const XmlRpcValue& empty_value() {
  static const XmlRpcValue empty;
  return empty;
}

const XmlRpcValue& reply_member(const XmlRpcValue& holder, const std::string& name) {
  if (!holder.valid()) return empty_value();
  if (holder.getType() != XmlRpcValue::TypeStruct) wrong_kind("a struct");
  const XmlRpcValue* member = holder.structValue().find(name);
  return member != nullptr ? *member : empty_value();
}

const XmlRpcValue& reply_element(const XmlRpcValue& holder, int index) {
  if (!holder.valid()) return empty_value();
  if (holder.getType() != XmlRpcValue::TypeArray) wrong_kind("an array");
  const XmlRpcValue::ValueArray& elements = holder.arrayValue();
  if (index < 0 || static_cast<size_t>(index) >= elements.size()) return empty_value();
  return elements[static_cast<size_t>(index)];
}

int reply_array_size(const XmlRpcValue& value) {
  if (!value.valid()) return 0;
  if (value.getType() != XmlRpcValue::TypeArray) wrong_kind("an array");
  return value.size();
}

bool reply_bool(const XmlRpcValue& value) {
  if (!value.valid()) return false;
  if (value.getType() != XmlRpcValue::TypeBoolean) wrong_kind("a boolean");
  return XmlRpcValue(value).asBool();
}

std::string reply_string(const XmlRpcValue& value) {
  if (!value.valid()) return std::string();
  if (value.getType() != XmlRpcValue::TypeString) wrong_kind("a string");
  return value.stringValue();
}

std::string reply_text(const XmlRpcValue& value) {
  std::string text = value.toText();
  const std::string::size_type nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

char* value_to_cstring(const XmlRpcValue& value) {
  // A string is copied straight from the reply, without toText's intermediate copy.
  if (value.getType() == XmlRpcValue::TypeString) return dup_cstring(value.stringValue().c_str());
  return dup_cstring(value.toText().c_str());  // invalid, int, or the kind error
}

char* take_cstring(const XmlRpcValue& value) {
  char* text = value_to_cstring(value);
  if (value.getType() == XmlRpcValue::TypeString) const_cast<XmlRpcValue&>(value).clear();
  return text;
}

XmlRpc::XmlRpcFilter first_comment_filter() {
  using Step = XmlRpc::XmlRpcFilter::Step;
  XmlRpc::XmlRpcFilter filter;
  filter.keep({Step::member("bugs"), Step::anyMember(), Step::member("comments"), Step::element(0),
               Step::member("text")});
  return filter;
}

}  // namespace bugzilla
