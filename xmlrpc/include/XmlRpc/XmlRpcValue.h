// The tagged value that XML-RPC requests and responses are made of.
#pragma once

#include <XmlRpc/XmlRpcException.h>
#include <XmlRpc/XmlRpcExport.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace XmlRpc {

class XmlRpcStruct;

class XMLRPC_API XmlRpcValue {
public:
  // The numbering is part of the interface: callers compare getType() with these.
  enum Type {
    TypeInvalid = 0,
    TypeBoolean = 1,
    TypeInt = 2,
    TypeDouble = 3,
    TypeString = 4,
    TypeDateTime = 5,
    TypeBase64 = 6,
    TypeArray = 7,
    TypeStruct = 8
  };

  using BinaryData = std::vector<unsigned char>;
  using ValueArray = std::vector<XmlRpcValue>;
  using ValueStruct = XmlRpcStruct;

  XmlRpcValue() noexcept = default;
  XmlRpcValue(bool value);
  XmlRpcValue(int value);
  XmlRpcValue(double value);
  XmlRpcValue(const char* value);  // null reads as the empty text
  XmlRpcValue(const std::string& value);
  XmlRpcValue(std::string&& value);
  // A date-time holds the full year in tm_year and the month counted from 1 in tm_mon,
  // as the wire text writes them.
  XmlRpcValue(const std::tm& value);
  XmlRpcValue(const void* bytes, size_t count);

  XmlRpcValue(const XmlRpcValue& other);
  XmlRpcValue(XmlRpcValue&& other) noexcept;
  XmlRpcValue& operator=(const XmlRpcValue& other);
  XmlRpcValue& operator=(XmlRpcValue&& other) noexcept;
  XmlRpcValue& operator=(const char* value);
  XmlRpcValue& operator=(const std::string& value);
  XmlRpcValue& operator=(int value);
  XmlRpcValue& operator=(double value);
  XmlRpcValue& operator=(bool value);
  ~XmlRpcValue();

  // Back to the invalid kind, releasing any content.
  void clear() noexcept;

  Type getType() const noexcept { return type_; }
  bool valid() const noexcept { return type_ != TypeInvalid; }

  // Elements of an array, members of a struct, bytes of a text or base64; other kinds throw.
  int size() const;

  // True only for a struct holding that member.
  bool hasMember(const std::string& name) const;

  // Growing accessors: an invalid value becomes an array or struct; a missing element or
  // member is added as an invalid value. Another kind throws XmlRpcException.
  XmlRpcValue& operator[](int index);
  XmlRpcValue& operator[](const std::string& name);
  XmlRpcValue& operator[](const char* name);

  // Read-only lookups that never grow anything: null when absent or not a container.
  const XmlRpcValue* find(const std::string& name) const;
  const XmlRpcValue* at(int index) const;

  // Removes a struct member; false when there was none (or the value is not a struct).
  bool removeMember(const std::string& name);

  // Turns an invalid value into `type`'s empty value (false, 0, 0.0, "", a date-time with
  // every field 0, no bytes, no elements, no members); throws when the value holds another kind.
  void assertTypeOrInvalid(Type type);
  void assertArray(int size);  // also grows the array to at least `size` elements
  void assertStruct();

  // Kind access by reference, each through assertTypeOrInvalid.
  bool& asBool();
  int& asInt();
  double& asDouble();
  std::string& asString();
  std::tm& asDateTime();
  BinaryData& asBinary();
  ValueArray& asArray();
  ValueStruct& asStruct();

  // Const kind access: throws on another kind; an invalid value throws too.
  const std::string& stringValue() const;
  const ValueArray& arrayValue() const;
  const ValueStruct& structValue() const;

  // The value read as text: "" for invalid, the content of a string, the decimal digits of an
  // int. Any other kind throws XmlRpcException.
  std::string toText() const;

  // Same kind and same content, recursively (struct member order does not matter).
  bool operator==(const XmlRpcValue& other) const;
  bool operator!=(const XmlRpcValue& other) const { return !(*this == other); }

  // ------------------------------------------------------------------------------------
  // Readers of the connections file (BugzillaConnections.txt). Both take the whole file's
  // text (its lines may be joined with nothing between them) and return 0 on success.
  //
  // connectionList leaves an array with one struct per <connection>, in file order. On
  // failure it returns non-zero; the value then is either not an array (no root element
  // opened) or an array whose bad elements carry a "fault" text.
  int connectionList(const std::string& text);
  // serverInfo leaves the struct of <velloran_server>: "ip_address" (text), "port" (int).
  // On failure the struct also carries a "fault" text.
  int serverInfo(const std::string& text);

  // Results of connectionList and serverInfo.
  enum ConnectionsFileCode {
    kConnectionsOk = 0,
    // No root element opened (empty text, prose). connectionList leaves the value invalid.
    kConnectionsNoRoot = 1,
    // Well-formed, but an entry or the file's structure is wrong: a member that is not a
    // number or given twice, an unknown element, a wrong root element.
    kConnectionsBadEntry = 2,
    // The XML breaks after the root element opened; the fault gives expat's reason and column.
    kConnectionsBrokenXml = 3,
    // Not parsed at all: a DOCTYPE (entity declarations) or more than 1 MiB of text.
    kConnectionsRefused = 4,
    // serverInfo only: the file has no <velloran_server> section.
    kConnectionsNoServerSection = 5
  };

private:
  void destroy() noexcept;
  void copyFrom(const XmlRpcValue& other);
  void requireType(Type type, const char* what) const;

  Type type_ = TypeInvalid;
  union {
    bool asBool;
    int asInt;
    double asDouble;
    std::string* asString;
    std::tm* asTime;
    BinaryData* asBinary;
    ValueArray* asArray;
    XmlRpcStruct* asStruct;
  } value_{};
};

// A struct member's name. Copies share one immutable text, so a name that a reply repeats in
// every struct (each comment of a Bug.comments reply has the same nine) is stored once.
// It reads as a const std::string.
class XMLRPC_API MemberName {
public:
  MemberName() noexcept = default;  // the empty name
  MemberName(std::string text);
  MemberName(const char* text) : MemberName(std::string(text ? text : "")) {}
  MemberName(const MemberName& other) noexcept;
  MemberName(MemberName&& other) noexcept : shared_(other.shared_) { other.shared_ = nullptr; }
  MemberName& operator=(MemberName other) noexcept {
    std::swap(shared_, other.shared_);
    return *this;
  }
  ~MemberName();

  const std::string& str() const noexcept;
  operator const std::string&() const noexcept { return str(); }
  const char* c_str() const noexcept { return str().c_str(); }
  size_t size() const noexcept { return str().size(); }
  bool empty() const noexcept { return str().empty(); }

  friend bool operator==(const MemberName& a, const MemberName& b) noexcept {
    return a.shared_ == b.shared_ || a.str() == b.str();
  }
  friend bool operator==(const MemberName& a, const std::string& b) noexcept { return a.str() == b; }
  friend bool operator==(const std::string& a, const MemberName& b) noexcept { return a == b.str(); }
  friend bool operator==(const MemberName& a, const char* b) noexcept { return a.str() == b; }
  friend bool operator!=(const MemberName& a, const MemberName& b) noexcept { return !(a == b); }
  friend bool operator!=(const MemberName& a, const std::string& b) noexcept { return !(a == b); }
  friend bool operator!=(const MemberName& a, const char* b) noexcept { return !(a == b); }

private:
  struct Shared;
  Shared* shared_ = nullptr;
};

// Struct members in the order they were added, with hashed lookup for large structs
// (a Bug.comments reply has one member per bug); small structs are scanned and carry no
// table.
class XMLRPC_API XmlRpcStruct {
public:
  using Member = std::pair<MemberName, XmlRpcValue>;
  using const_iterator = std::vector<Member>::const_iterator;
  using iterator = std::vector<Member>::iterator;

  XmlRpcStruct();
  XmlRpcStruct(const XmlRpcStruct& other);  // the copy builds its own lookup table
  XmlRpcStruct& operator=(const XmlRpcStruct& other);
  XmlRpcStruct(XmlRpcStruct&& other) noexcept;
  XmlRpcStruct& operator=(XmlRpcStruct&& other) noexcept;
  ~XmlRpcStruct();

  size_t size() const noexcept { return members_.size(); }
  bool empty() const noexcept { return members_.empty(); }
  const_iterator begin() const noexcept { return members_.begin(); }
  const_iterator end() const noexcept { return members_.end(); }
  // Mutable iteration is for changing member values; renaming a member through it would
  // leave the lookup table stale.
  iterator begin() noexcept { return members_.begin(); }
  iterator end() noexcept { return members_.end(); }

  const XmlRpcValue* find(const std::string& name) const;
  XmlRpcValue* find(const std::string& name);
  // The member of that name, added as invalid when absent.
  XmlRpcValue& operator[](const std::string& name);
  // Adds a member without looking for an existing one of the same name (the decoder's
  // fast path; a later duplicate name wins on lookup, as it would by replacement).
  XmlRpcValue& append(std::string name);
  XmlRpcValue& append(const char* name) { return append(std::string(name ? name : "")); }
  XmlRpcValue& append(const MemberName& name);  // shares the name's text
  XmlRpcValue& append(MemberName&& name);
  bool remove(const std::string& name);
  // Gives back spare room once no more members are coming (the decoder, at a struct's end).
  void shrinkToFit();
  // Room for `count` members in all, for a decoder that knows how many are coming.
  void reserve(size_t count);

private:
  struct Index;
  void rebuildIndex() const;
  std::vector<Member> members_;
  // Built on the first lookup of a large struct, so even const lookups write it: a struct
  // shared between threads needs the caller's lock.
  mutable Index* index_ = nullptr;
};

}  // namespace XmlRpc
