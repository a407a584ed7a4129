#include "wire_decode.h"

#include "member_name_cache.h"
#include "utf8_text.h"

#include <expat.h>

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace XmlRpc {
namespace detail {

namespace {

enum class Tag : uint8_t {
  MethodResponse, Params, Param, Fault, Value, Struct, Member, Name, Array, Data,
  Int, I8, Boolean, Double, String, DateTime, Base64, Nil, Unknown
};

// Tag names are compared by their first letter and then in full: a handful of strcmp calls
// at most, no table lookups or allocations.
Tag classify(const char* n) {
  switch (n[0]) {
    case 'v': if (!std::strcmp(n, "value")) return Tag::Value; break;
    case 's':
      if (!std::strcmp(n, "string")) return Tag::String;
      if (!std::strcmp(n, "struct")) return Tag::Struct;
      break;
    case 'm':
      if (!std::strcmp(n, "member")) return Tag::Member;
      if (!std::strcmp(n, "methodResponse")) return Tag::MethodResponse;
      break;
    case 'n':
      if (!std::strcmp(n, "name")) return Tag::Name;
      if (!std::strcmp(n, "nil")) return Tag::Nil;
      break;
    case 'i':
      if (!std::strcmp(n, "int") || !std::strcmp(n, "i4")) return Tag::Int;
      if (!std::strcmp(n, "i8")) return Tag::I8;
      break;
    case 'b':
      if (!std::strcmp(n, "boolean")) return Tag::Boolean;
      if (!std::strcmp(n, "base64")) return Tag::Base64;
      break;
    case 'd':
      if (!std::strcmp(n, "data")) return Tag::Data;
      if (!std::strcmp(n, "double")) return Tag::Double;
      if (!std::strcmp(n, "dateTime.iso8601")) return Tag::DateTime;
      break;
    case 'a': if (!std::strcmp(n, "array")) return Tag::Array; break;
    case 'p':
      if (!std::strcmp(n, "param")) return Tag::Param;
      if (!std::strcmp(n, "params")) return Tag::Params;
      break;
    case 'f': if (!std::strcmp(n, "fault")) return Tag::Fault; break;
    case 'e': if (!std::strcmp(n, "ex:nil")) return Tag::Nil; break;  // Apache's extension
    default: break;
  }
  return Tag::Unknown;
}

bool is_type_tag(Tag tag) {
  switch (tag) {
    case Tag::Int: case Tag::I8: case Tag::Boolean: case Tag::Double: case Tag::String:
    case Tag::DateTime: case Tag::Base64: case Tag::Nil: case Tag::Array: case Tag::Struct:
      return true;
    default:
      return false;
  }
}

bool is_blank(const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char c = s[i];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

// The text without XML white space around it.
struct Span {
  const char* begin;
  const char* end;
  size_t size() const { return static_cast<size_t>(end - begin); }
  bool empty() const { return begin == end; }
};

Span trimmed(const std::string& text) {
  const char* b = text.data();
  const char* e = b + text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (b < e && blank(*b)) ++b;
  while (e > b && blank(e[-1])) --e;
  return {b, e};
}

// An integer that fits 32 bits becomes an int; a longer one keeps its digits as text, so
// that no id is ever cut short.
bool decode_integer(const std::string& text, XmlRpcValue& out) {
  Span s = trimmed(text);
  if (s.empty()) return false;
  if (*s.begin == '+' && s.size() > 1 && s.begin[1] != '-') ++s.begin;
  const char* digits = *s.begin == '-' ? s.begin + 1 : s.begin;
  if (digits == s.end) return false;
  for (const char* p = digits; p < s.end; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  int number = 0;
  const auto parsed = std::from_chars(s.begin, s.end, number);
  if (parsed.ec == std::errc() && parsed.ptr == s.end) {
    out = number;
  } else {
    out = std::string(s.begin, s.end);
  }
  return true;
}

bool decode_boolean(const std::string& text, XmlRpcValue& out) {
  const Span s = trimmed(text);
  if (s.size() != 1 || (*s.begin != '0' && *s.begin != '1')) return false;
  out = *s.begin == '1';
  return true;
}

bool decode_double(const std::string& text, XmlRpcValue& out) {
  Span s = trimmed(text);
  if (s.size() > 1 && *s.begin == '+' && s.begin[1] != '-') ++s.begin;
  if (s.empty()) return false;
  double number = 0;
  const auto parsed = std::from_chars(s.begin, s.end, number, std::chars_format::general);
  if (parsed.ec != std::errc() || parsed.ptr != s.end) return false;
  out = number;
  return true;
}

bool read_digits(const char*& p, const char* end, int count, int& number) {
  number = 0;
  for (int i = 0; i < count; ++i, ++p) {
    if (p >= end || *p < '0' || *p > '9') return false;
    number = number * 10 + (*p - '0');
  }
  return true;
}

bool expect(const char*& p, const char* end, char c) {
  if (p >= end || *p != c) return false;
  ++p;
  return true;
}

// YYYYMMDDTHH:MM:SS or YYYY-MM-DDTHH:MM:SS; fractions and a zone after it are ignored.
bool decode_date_time(const std::string& text, XmlRpcValue& out) {
  const Span s = trimmed(text);
  const char* p = s.begin;
  std::tm time{};
  if (!read_digits(p, s.end, 4, time.tm_year)) return false;
  const bool dashes = p < s.end && *p == '-';
  if (dashes) ++p;
  if (!read_digits(p, s.end, 2, time.tm_mon)) return false;
  if (dashes && !expect(p, s.end, '-')) return false;
  if (!read_digits(p, s.end, 2, time.tm_mday) || !expect(p, s.end, 'T') ||
      !read_digits(p, s.end, 2, time.tm_hour) || !expect(p, s.end, ':') ||
      !read_digits(p, s.end, 2, time.tm_min) || !expect(p, s.end, ':') ||
      !read_digits(p, s.end, 2, time.tm_sec)) {
    return false;
  }
  if (p < s.end && *p != '.' && *p != 'Z' && *p != '+' && *p != '-') return false;
  if (time.tm_mon < 1 || time.tm_mon > 12 || time.tm_mday < 1 || time.tm_mday > 31 ||
      time.tm_hour > 23 || time.tm_min > 59 || time.tm_sec > 60) {
    return false;
  }
  out = XmlRpcValue(time);
  return true;
}

int base64_digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// White space anywhere is skipped (servers wrap lines); padding may only end the text.
bool decode_base64(const std::string& text, XmlRpcValue& out) {
  XmlRpcValue::BinaryData bytes;
  bytes.reserve(text.size() / 4 * 3);
  uint32_t group = 0;
  int bits = 0;
  int padding = 0;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int digit = base64_digit(c);
    if (digit < 0 || padding > 0) return false;
    group = (group << 6) | static_cast<uint32_t>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<unsigned char>((group >> bits) & 0xFF));
    }
  }
  if (padding > 2 || bits >= 6) return false;  // a lone sixth of a group carries no byte
  out = XmlRpcValue(bytes.data(), bytes.size());
  return true;
}

}  // namespace

void shrink_to_fit(XmlRpcValue::ValueArray& elements) {
  if (elements.capacity() == elements.size()) return;
  XmlRpcValue::ValueArray fitted;
  fitted.reserve(elements.size());
  for (XmlRpcValue& element : elements) fitted.push_back(std::move(element));  // cannot throw
  elements.swap(fitted);
}

class ResponseStream::Decoder {
public:
  Decoder(XmlRpcValue& result, const XmlRpcFilter* filter)
      : result_(result), filter_(filter ? filter->root() : nullptr),
        parser_(XML_ParserCreate("UTF-8"), XML_ParserFree) {  // the declared encoding cannot mislead it
    if (!parser_) throw std::bad_alloc();
    XML_Parser parser = parser_.get();
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &Decoder::on_start, &Decoder::on_end);
    XML_SetCharacterDataHandler(parser, &Decoder::on_text);
    XML_SetStartDoctypeDeclHandler(parser, &Decoder::on_doctype);
    stack_.reserve(32);
  }

  bool feed(const char* data, size_t size, bool last) {
    if (!failed_) {
      repair_.feed(data, size, last,
                   [this](const char* piece, size_t n) { parse(piece, n, false); });
    }
    if (!failed_ && last) parse(nullptr, 0, true);
    return !failed_;
  }

  const std::string& error() const { return error_; }
  void clear_result() noexcept { result_.clear(); }
  bool is_fault() const { return fault_; }

private:
  struct Frame {
    Tag tag;
    uint32_t children;    // child elements seen so far
    XmlRpcValue* value;   // the value this element fills; null when it is dropped
    const XmlRpcFilter::Node* keep;  // what to keep below; null: all of it
  };

  void parse(const char* data, size_t size, bool last) {
    XML_Parser parser = parser_.get();
    do {
      const size_t piece = size > (size_t{1} << 30) ? (size_t{1} << 30) : size;
      const bool final_piece = last && piece == size;
      const XML_Status status =
          XML_Parse(parser, data, static_cast<int>(piece), final_piece ? 1 : 0);
      if (thrown_) std::rethrow_exception(thrown_);  // out of memory in a handler
      if (status != XML_STATUS_OK) {
        failed_ = true;
        error_ = failure_.empty() ? XML_ErrorString(XML_GetErrorCode(parser)) : failure_;
        error_ += " (line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                  std::to_string(XML_GetCurrentColumnNumber(parser)) + ")";
        return;
      }
      data += piece;
      size -= piece;
    } while (size > 0);
  }

  void fail(const char* reason) {
    if (!failure_.empty()) return;
    failure_ = reason;
    XML_StopParser(parser_.get(), XML_FALSE);
  }

  // No exception may unwind through expat's C frames (the parser would leak): it is kept,
  // the parser stopped, and the exception raised again once expat has returned.
  template <typename Action>
  static void guarded(void* self, Action action) {
    auto* decoder = static_cast<Decoder*>(self);
    if (decoder->thrown_) return;
    try {
      action(*decoder);
    } catch (...) {
      decoder->thrown_ = std::current_exception();
      XML_StopParser(decoder->parser_.get(), XML_FALSE);
    }
  }

  static void XMLCALL on_doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                 int) {
    // No DTD means no entity declarations, hence no entity expansion attacks.
    guarded(self, [](Decoder& d) { d.fail("a DOCTYPE is not allowed"); });
  }

  static void XMLCALL on_start(void* self, const XML_Char* name, const XML_Char**) {
    guarded(self, [name](Decoder& d) { d.start(name); });
  }
  static void XMLCALL on_end(void* self, const XML_Char*) {
    guarded(self, [](Decoder& d) { d.end(); });
  }
  static void XMLCALL on_text(void* self, const XML_Char* text, int length) {
    const size_t size = static_cast<size_t>(length);
    guarded(self, [text, size](Decoder& d) { d.text(text, size); });
  }

  // What to keep below a node: null (everything) once a path ends there.
  static const XmlRpcFilter::Node* below(const XmlRpcFilter::Node* node) {
    return node && !node->whole ? node : nullptr;
  }

  // The next element of an array that `parent` fills, as the filter has it.
  void add_element(const Frame& parent, XmlRpcValue*& value, const XmlRpcFilter::Node*& keep) {
    keep = nullptr;
    if (!parent.value) return;
    const XmlRpcFilter::Node* filter = parent.keep;
    if (!filter || !filter->filtersArrays()) {
      value = &parent.value->asArray().emplace_back();
      return;
    }
    const int index = static_cast<int>(parent.children);
    if (const XmlRpcFilter::Node* node = filter->element(index)) {
      value = &parent.value->asArray().emplace_back();
      keep = below(node);
    } else if (index < filter->last_element) {
      parent.value->asArray().emplace_back();  // holds the position of a later kept one
    }
  }

  // The member `name` of the struct that `owner` fills, as the filter has it.
  void add_member(const Frame& owner, Frame& member) {
    member.value = nullptr;
    member.keep = nullptr;
    if (!owner.value) return;
    const XmlRpcFilter::Node* filter = owner.keep;
    if (filter && filter->filtersStructs()) {
      const XmlRpcFilter::Node* node = filter->member(text_.data(), text_.size());
      if (!node) return;
      member.keep = below(node);
    }
    member.value = &owner.value->asStruct().append(names_.get(text_.data(), text_.size()));
  }

  void start(const char* name) {
    if (!failure_.empty()) return;
    if (stray_text_) return fail("text outside a value");
    const Tag tag = classify(name);
    if (stack_.empty()) {
      if (tag != Tag::MethodResponse) return fail("the document is not a methodResponse");
      stack_.push_back({tag, 0, nullptr, nullptr});
      return;
    }

    Frame& parent = stack_.back();
    XmlRpcValue* value = nullptr;
    const XmlRpcFilter::Node* keep = nullptr;
    bool allowed = false;
    switch (parent.tag) {
      case Tag::MethodResponse:
        allowed = (tag == Tag::Params || tag == Tag::Fault) && parent.children == 0;
        fault_ = tag == Tag::Fault;
        break;
      case Tag::Params:
        allowed = tag == Tag::Param && parent.children == 0;
        break;
      case Tag::Param:
      case Tag::Fault:
        allowed = tag == Tag::Value && parent.children == 0;
        value = &result_;
        keep = parent.tag == Tag::Param ? filter_ : nullptr;  // a fault is kept whole
        break;
      case Tag::Struct:
        allowed = tag == Tag::Member;
        break;
      case Tag::Member:
        // The member's value is added to its struct when its name is complete.
        allowed = (tag == Tag::Name && parent.children == 0) ||
                  (tag == Tag::Value && parent.children == 1);
        value = parent.value;
        keep = parent.keep;
        break;
      case Tag::Array:
        allowed = tag == Tag::Data && parent.children == 0;
        value = parent.value;
        keep = parent.keep;
        break;
      case Tag::Data:
        allowed = tag == Tag::Value;
        if (allowed) add_element(parent, value, keep);
        break;
      case Tag::Value:
        // Only blank text may stand beside a typed child.
        allowed = parent.children == 0 && is_type_tag(tag) && is_blank(text_.data(), text_.size());
        value = parent.value;
        keep = parent.keep;
        break;
      default:
        break;  // scalars, names and nil hold no elements
    }
    if (!allowed) return fail("unexpected element");
    ++parent.children;

    switch (tag) {
      case Tag::Value:
      case Tag::Name:
      case Tag::Int:
      case Tag::I8:
      case Tag::Boolean:
      case Tag::Double:
      case Tag::DateTime:
      case Tag::Base64:
        text_.clear();
        break;
      case Tag::String:
        target_ = value ? &value->asString() : nullptr;
        break;
      case Tag::Struct:
        if (++nesting_ > kMaxNesting) return fail("nesting deeper than 64 levels");
        if (value) value->asStruct();
        break;
      case Tag::Array:
        if (++nesting_ > kMaxNesting) return fail("nesting deeper than 64 levels");
        if (value) value->asArray();
        break;
      default:
        break;
    }
    stack_.push_back({tag, 0, value, keep});
  }

  void end() {
    if (!failure_.empty()) return;
    if (stray_text_) return fail("text outside a value");
    const Frame frame = stack_.back();
    stack_.pop_back();
    // A dropped scalar is still checked; it is decoded into a scratch value.
    XmlRpcValue& value = frame.value ? *frame.value : scratch_;
    switch (frame.tag) {
      case Tag::Value:
        if (frame.children == 0 && frame.value) frame.value->asString().assign(text_);  // untyped: text
        break;
      case Tag::Int:
      case Tag::I8:
        if (!decode_integer(text_, value)) fail("bad integer");
        break;
      case Tag::Boolean:
        if (!decode_boolean(text_, value)) fail("bad boolean");
        break;
      case Tag::Double:
        if (!decode_double(text_, value)) fail("bad double");
        break;
      case Tag::DateTime:
        if (!decode_date_time(text_, value)) fail("bad dateTime.iso8601");
        break;
      case Tag::Base64:
        if (!decode_base64(text_, value)) fail("bad base64");
        break;
      case Tag::Name:
        add_member(stack_[stack_.size() - 2], stack_.back());
        break;
      case Tag::Struct:
        --nesting_;
        if (frame.value) frame.value->asStruct().shrinkToFit();  // no room kept for more
        break;
      case Tag::Array:
        --nesting_;
        if (frame.children != 1) fail("array without data");
        if (frame.value) shrink_to_fit(frame.value->asArray());
        break;
      case Tag::Member:
        if (frame.children != 2) fail("member without name or value");
        break;
      case Tag::MethodResponse:
      case Tag::Params:
      case Tag::Param:
        if (frame.children != 1) fail("response without exactly one value");
        break;
      case Tag::Fault:
        if (frame.children != 1 || result_.getType() != XmlRpcValue::TypeStruct ||
            !result_.hasMember("faultCode") || !result_.hasMember("faultString")) {
          fail("fault without faultCode and faultString");
        }
        break;
      default:
        break;
    }
    if (scratch_.valid()) scratch_.clear();
  }

  void text(const char* s, size_t n) {
    if (!failure_.empty() || stack_.empty()) return;
    const Frame& top = stack_.back();
    switch (top.tag) {
      case Tag::String:
        if (target_) target_->append(s, n);
        return;
      case Tag::Value:
        if (top.children == 0) {
          text_.append(s, n);
          return;
        }
        break;
      case Tag::Name:
      case Tag::Int:
      case Tag::I8:
      case Tag::Boolean:
      case Tag::Double:
      case Tag::DateTime:
      case Tag::Base64:
        text_.append(s, n);
        return;
      default:
        break;
    }
    // Refused at the next tag, whose position does not depend on how expat split the text
    // into pieces (as the body's pieces were cut).
    if (!is_blank(s, n)) stray_text_ = true;
  }

  XmlRpcValue& result_;
  const XmlRpcFilter::Node* filter_;
  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser_;
  XmlTextRepair repair_;
  std::vector<Frame> stack_;
  std::string text_;                // character data of the innermost scalar, reused
  std::string* target_ = nullptr;   // the string a <string> element appends to, if kept
  XmlRpcValue scratch_;             // where dropped scalars are checked
  MemberNameCache names_;
  int nesting_ = 0;
  bool fault_ = false;
  bool failed_ = false;
  bool stray_text_ = false;         // non-blank text where only markup may stand
  std::string failure_;             // our own reason, when we stopped expat
  std::string error_;
  std::exception_ptr thrown_;
};

ResponseStream::ResponseStream(XmlRpcValue& result, const XmlRpcFilter* filter) {
  result.clear();
  decoder_ = std::make_unique<Decoder>(result, filter);
}

ResponseStream::~ResponseStream() = default;

bool ResponseStream::feed(const char* data, size_t size) {
  return decoder_->feed(data, size, false);
}

bool ResponseStream::finish(std::string& error, bool* is_fault) {
  if (is_fault) *is_fault = false;
  error.clear();
  if (!decoder_->feed(nullptr, 0, true)) {
    error = decoder_->error();
    decoder_->clear_result();
    return false;
  }
  if (is_fault) *is_fault = decoder_->is_fault();
  return true;
}

bool decode_response(const char* data, size_t size, XmlRpcValue& result, std::string& error,
                     bool* is_fault, const XmlRpcFilter* filter) {
  ResponseStream stream(result, filter);
  stream.feed(data, size);
  return stream.finish(error, is_fault);
}

}  // namespace detail
}  // namespace XmlRpc
