// The tagged XML-RPC value: construction, copying, kind checks, growth and comparison.
#include <XmlRpc/XmlRpcValue.h>

#include <algorithm>
#include <string>

namespace XmlRpc {

namespace {

const char* kindName(XmlRpcValue::Type type) {
  switch (type) {
    case XmlRpcValue::TypeInvalid: return "invalid";
    case XmlRpcValue::TypeBoolean: return "boolean";
    case XmlRpcValue::TypeInt: return "int";
    case XmlRpcValue::TypeDouble: return "double";
    case XmlRpcValue::TypeString: return "string";
    case XmlRpcValue::TypeDateTime: return "date-time";
    case XmlRpcValue::TypeBase64: return "base64";
    case XmlRpcValue::TypeArray: return "array";
    case XmlRpcValue::TypeStruct: return "struct";
  }
  return "unknown";
}

[[noreturn]] void throwTypeError(const std::string& expected, XmlRpcValue::Type actual) {
  throw XmlRpcException("type error: expected " + expected + ", value is " + kindName(actual));
}

// The wire carries only these six fields of a date-time.
bool sameDateTime(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
         a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

bool sameMembers(const XmlRpcStruct& a, const XmlRpcStruct& b) {
  if (a.size() != b.size()) return false;
  // Side by side first: lookups find only the last of a name given twice, and a struct with
  // such a name must still equal its copy.
  if (std::equal(a.begin(), a.end(), b.begin(),
                 [](const XmlRpcStruct::Member& x, const XmlRpcStruct::Member& y) {
                   return x.first == y.first && x.second == y.second;
                 })) {
    return true;
  }
  for (const auto& member : a) {
    const XmlRpcValue* other = b.find(member.first);
    if (!other || !(*other == member.second)) return false;
  }
  return true;
}

}  // namespace

XmlRpcValue::XmlRpcValue(bool value) : type_(TypeBoolean) { value_.asBool = value; }
XmlRpcValue::XmlRpcValue(int value) : type_(TypeInt) { value_.asInt = value; }
XmlRpcValue::XmlRpcValue(double value) : type_(TypeDouble) { value_.asDouble = value; }

XmlRpcValue::XmlRpcValue(const char* value) {
  value_.asString = new std::string(value ? value : "");
  type_ = TypeString;
}

XmlRpcValue::XmlRpcValue(const std::string& value) {
  value_.asString = new std::string(value);
  type_ = TypeString;
}

XmlRpcValue::XmlRpcValue(std::string&& value) {
  value_.asString = new std::string(std::move(value));
  type_ = TypeString;
}

XmlRpcValue::XmlRpcValue(const std::tm& value) {
  value_.asTime = new std::tm(value);
  type_ = TypeDateTime;
}

XmlRpcValue::XmlRpcValue(const void* bytes, size_t count) {
  const auto* first = static_cast<const unsigned char*>(bytes);
  value_.asBinary = first ? new BinaryData(first, first + count) : new BinaryData();
  type_ = TypeBase64;
}

XmlRpcValue::XmlRpcValue(const XmlRpcValue& other) { copyFrom(other); }

XmlRpcValue::XmlRpcValue(XmlRpcValue&& other) noexcept : type_(other.type_), value_(other.value_) {
  other.type_ = TypeInvalid;
  other.value_.asString = nullptr;
}

XmlRpcValue& XmlRpcValue::operator=(const XmlRpcValue& other) {
  // Copy first: `other` may live inside this value (v = v[0]).
  if (this != &other) *this = XmlRpcValue(other);
  return *this;
}

XmlRpcValue& XmlRpcValue::operator=(XmlRpcValue&& other) noexcept {
  if (this == &other) return *this;
  // Detach `other` before releasing our content, which may own it (v = std::move(v[0])).
  XmlRpcValue taken(static_cast<XmlRpcValue&&>(other));
  destroy();
  type_ = taken.type_;
  value_ = taken.value_;
  taken.type_ = TypeInvalid;
  taken.value_.asString = nullptr;
  return *this;
}

XmlRpcValue& XmlRpcValue::operator=(const char* value) { return *this = XmlRpcValue(value); }
XmlRpcValue& XmlRpcValue::operator=(const std::string& value) { return *this = XmlRpcValue(value); }

XmlRpcValue& XmlRpcValue::operator=(int value) {
  destroy();
  type_ = TypeInt;
  value_.asInt = value;
  return *this;
}

XmlRpcValue& XmlRpcValue::operator=(double value) {
  destroy();
  type_ = TypeDouble;
  value_.asDouble = value;
  return *this;
}

XmlRpcValue& XmlRpcValue::operator=(bool value) {
  destroy();
  type_ = TypeBoolean;
  value_.asBool = value;
  return *this;
}

XmlRpcValue::~XmlRpcValue() { destroy(); }

void XmlRpcValue::clear() noexcept { destroy(); }

void XmlRpcValue::destroy() noexcept {
  switch (type_) {
    case TypeString: delete value_.asString; break;
    case TypeDateTime: delete value_.asTime; break;
    case TypeBase64: delete value_.asBinary; break;
    case TypeArray: delete value_.asArray; break;
    case TypeStruct: delete value_.asStruct; break;
    default: break;
  }
  type_ = TypeInvalid;
  value_.asString = nullptr;
}

void XmlRpcValue::copyFrom(const XmlRpcValue& other) {
  // Only called on an invalid value; the kind is set after the allocation succeeded.
  switch (other.type_) {
    case TypeString: value_.asString = new std::string(*other.value_.asString); break;
    case TypeDateTime: value_.asTime = new std::tm(*other.value_.asTime); break;
    case TypeBase64: value_.asBinary = new BinaryData(*other.value_.asBinary); break;
    case TypeArray: value_.asArray = new ValueArray(*other.value_.asArray); break;
    case TypeStruct: value_.asStruct = new XmlRpcStruct(*other.value_.asStruct); break;
    default: value_ = other.value_; break;
  }
  type_ = other.type_;
}

void XmlRpcValue::requireType(Type type, const char* what) const {
  if (type_ != type) throwTypeError(what ? what : kindName(type), type_);
}

int XmlRpcValue::size() const {
  switch (type_) {
    case TypeString: return static_cast<int>(value_.asString->size());
    case TypeBase64: return static_cast<int>(value_.asBinary->size());
    case TypeArray: return static_cast<int>(value_.asArray->size());
    case TypeStruct: return static_cast<int>(value_.asStruct->size());
    default: throwTypeError("array, struct, string or base64", type_);
  }
}

bool XmlRpcValue::hasMember(const std::string& name) const {
  return type_ == TypeStruct && value_.asStruct->find(name) != nullptr;
}

XmlRpcValue& XmlRpcValue::operator[](int index) {
  if (index < 0) throw XmlRpcException("index error: negative array index " + std::to_string(index));
  assertArray(index + 1);
  return (*value_.asArray)[static_cast<size_t>(index)];
}

XmlRpcValue& XmlRpcValue::operator[](const std::string& name) {
  assertStruct();
  return (*value_.asStruct)[name];
}

XmlRpcValue& XmlRpcValue::operator[](const char* name) {
  return (*this)[std::string(name ? name : "")];
}

const XmlRpcValue* XmlRpcValue::find(const std::string& name) const {
  return type_ == TypeStruct ? value_.asStruct->find(name) : nullptr;
}

const XmlRpcValue* XmlRpcValue::at(int index) const {
  if (type_ != TypeArray || index < 0 || static_cast<size_t>(index) >= value_.asArray->size())
    return nullptr;
  return &(*value_.asArray)[static_cast<size_t>(index)];
}

bool XmlRpcValue::removeMember(const std::string& name) {
  return type_ == TypeStruct && value_.asStruct->remove(name);
}

void XmlRpcValue::assertTypeOrInvalid(Type type) {
  if (type_ == type) return;
  if (type_ != TypeInvalid) throwTypeError(kindName(type), type_);
  switch (type) {
    case TypeBoolean: value_.asBool = false; break;
    case TypeInt: value_.asInt = 0; break;
    case TypeDouble: value_.asDouble = 0.0; break;
    case TypeString: value_.asString = new std::string(); break;
    case TypeDateTime: value_.asTime = new std::tm{}; break;
    case TypeBase64: value_.asBinary = new BinaryData(); break;
    case TypeArray: value_.asArray = new ValueArray(); break;
    case TypeStruct: value_.asStruct = new XmlRpcStruct(); break;
    case TypeInvalid: break;
  }
  type_ = type;
}

void XmlRpcValue::assertArray(int size) {
  assertTypeOrInvalid(TypeArray);
  if (size > 0 && value_.asArray->size() < static_cast<size_t>(size))
    value_.asArray->resize(static_cast<size_t>(size));
}

void XmlRpcValue::assertStruct() { assertTypeOrInvalid(TypeStruct); }

bool& XmlRpcValue::asBool() {
  assertTypeOrInvalid(TypeBoolean);
  return value_.asBool;
}

int& XmlRpcValue::asInt() {
  assertTypeOrInvalid(TypeInt);
  return value_.asInt;
}

double& XmlRpcValue::asDouble() {
  assertTypeOrInvalid(TypeDouble);
  return value_.asDouble;
}

std::string& XmlRpcValue::asString() {
  assertTypeOrInvalid(TypeString);
  return *value_.asString;
}

std::tm& XmlRpcValue::asDateTime() {
  assertTypeOrInvalid(TypeDateTime);
  return *value_.asTime;
}

XmlRpcValue::BinaryData& XmlRpcValue::asBinary() {
  assertTypeOrInvalid(TypeBase64);
  return *value_.asBinary;
}

XmlRpcValue::ValueArray& XmlRpcValue::asArray() {
  assertTypeOrInvalid(TypeArray);
  return *value_.asArray;
}

XmlRpcValue::ValueStruct& XmlRpcValue::asStruct() {
  assertTypeOrInvalid(TypeStruct);
  return *value_.asStruct;
}

const std::string& XmlRpcValue::stringValue() const {
  requireType(TypeString, nullptr);
  return *value_.asString;
}

const XmlRpcValue::ValueArray& XmlRpcValue::arrayValue() const {
  requireType(TypeArray, nullptr);
  return *value_.asArray;
}

const XmlRpcValue::ValueStruct& XmlRpcValue::structValue() const {
  requireType(TypeStruct, nullptr);
  return *value_.asStruct;
}

std::string XmlRpcValue::toText() const {
  switch (type_) {
    case TypeInvalid: return std::string();
    case TypeString: return *value_.asString;
    case TypeInt: return std::to_string(value_.asInt);
    default: throwTypeError("string or int", type_);
  }
}

bool XmlRpcValue::operator==(const XmlRpcValue& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case TypeInvalid: return true;
    case TypeBoolean: return value_.asBool == other.value_.asBool;
    case TypeInt: return value_.asInt == other.value_.asInt;
    case TypeDouble: return value_.asDouble == other.value_.asDouble;
    case TypeString: return *value_.asString == *other.value_.asString;
    case TypeDateTime: return sameDateTime(*value_.asTime, *other.value_.asTime);
    case TypeBase64: return *value_.asBinary == *other.value_.asBinary;
    case TypeArray: return *value_.asArray == *other.value_.asArray;
    case TypeStruct: return sameMembers(*value_.asStruct, *other.value_.asStruct);
  }
  return false;
}

}  // namespace XmlRpc
