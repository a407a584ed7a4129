#include "json_decode.h"

#include "member_name_cache.h"
#include "utf8_text.h"
#include "wire_decode.h"

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <climits>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace XmlRpc {
namespace detail {

namespace {

namespace ondemand = simdjson::ondemand;
using Node = XmlRpcFilter::Node;

// What to keep below a node: null (everything) once a path ends there.
const Node* below(const Node* node) { return node && !node->whole ? node : nullptr; }

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A value's raw token comes as it is, a document's as a result.
bool raw_token(std::string_view token, std::string_view& out) {
  out = token;
  return true;
}
bool raw_token(simdjson::simdjson_result<std::string_view> token, std::string_view& out) {
  return std::move(token).get(out) == simdjson::SUCCESS;
}

// The members of a root object that make it a REST error reply.
enum ErrorMember { kError, kCode, kMessage, kNotErrorMember };

ErrorMember error_member(std::string_view name) {
  if (name == "error") return kError;
  if (name == "code") return kCode;
  if (name == "message") return kMessage;
  return kNotErrorMember;
}

// A member name as written, when that is also its text: printable ASCII without escapes, as
// nearly every name is. It is then read in place, never unescaped nor copied. The closing
// quote is there: the body has been checked to be made of whole strings.
bool plain_key(const ondemand::field& field, std::string_view& key) {
  const char* const start = reinterpret_cast<const char*>(field.key().raw());
#if defined(__SSE2__)
  // Most names end within sixteen bytes, which the body's padding lets us read at once.
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start));
  const unsigned quotes =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))));
  if (quotes != 0) {
    // Bytes from 0x7F up read as negative; control characters are below 0x20.
    const __m128i unplain = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')),
                     _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20))),
        _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F)));
    const unsigned length = static_cast<unsigned>(__builtin_ctz(quotes));
    const unsigned before = (1u << length) - 1;
    if ((static_cast<unsigned>(_mm_movemask_epi8(unplain)) & before) != 0) return false;
    key = std::string_view(start, length);
    return true;
  }
#endif
  for (const char* p = start;; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"') {
      key = std::string_view(start, static_cast<size_t>(p - start));
      return true;
    }
    if (c == '\\' || c < 0x20 || c >= 0x7F) return false;
  }
}

// A string value's token: from its opening quote to its closing one, which is the token's
// last byte but for spaces (a token runs to the next structural character). Empty for a
// document that is one string: that takes simdjson's usual way.
std::string_view string_token(ondemand::value& value) {
  std::string_view token = value.raw_json_token();
  while (!token.empty() && is_json_space(token.back())) token.remove_suffix(1);
  if (token.size() < 2 || token.front() != '"' || token.back() != '"') return {};
  return token;
}
std::string_view string_token(ondemand::document&) { return {}; }

// simdjson 3.0.1's on-demand parser takes its string buffer (and, in builds with its
// development checks, a table of positions) with new(std::nothrow) and never checks them: out
// of memory there would later write through a null pointer. They are looked at here through
// explicit instantiations, the one standard way to name a private member, so that a failed
// allocation becomes std::bad_alloc instead.
struct ParserStringBuffer {
  using type = std::unique_ptr<uint8_t[]> ondemand::parser::*;
  friend type member_of(ParserStringBuffer);
};
template <typename Tag, typename Tag::type Member>
struct ExposeMember {
  friend typename Tag::type member_of(Tag) { return Member; }
};
template struct ExposeMember<ParserStringBuffer, &ondemand::parser::string_buf>;
#if SIMDJSON_DEVELOPMENT_CHECKS
struct ParserStartPositions {
  using type = std::unique_ptr<ondemand::token_position[]> ondemand::parser::*;
  friend type member_of(ParserStartPositions);
};
template struct ExposeMember<ParserStartPositions, &ondemand::parser::start_positions>;
#endif

bool buffers_allocated(ondemand::parser& parser) {
#if SIMDJSON_DEVELOPMENT_CHECKS
  if (!(parser.*member_of(ParserStartPositions{}))) return false;
#endif
  return static_cast<bool>(parser.*member_of(ParserStringBuffer{}));
}

// Room for a body of `size` bytes, or std::bad_alloc.
void allocate_or_throw(ondemand::parser& parser, size_t size) {
  const simdjson::error_code code = parser.allocate(size);
  if (code == simdjson::MEMALLOC || (code == simdjson::SUCCESS && !buffers_allocated(parser))) {
    throw std::bad_alloc();
  }
}

// On-demand: values the filter drops are skipped over, never built. Every simdjson call that
// fails sets the reason and unwinds through the `false` returns.
class Decoder {
public:
  explicit Decoder(const XmlRpcFilter* filter) : filter_(filter ? filter->root() : nullptr) {}

  bool decode(ondemand::parser& parser, const char* data, size_t size, size_t allocated,
              XmlRpcValue& result, bool& is_fault) {
    if (parser.capacity() < size) allocate_or_throw(parser, size);
    parser_ = &parser;
    ondemand::document document;
    if (!ok(parser.iterate(data, size, allocated).get(document))) return false;
    ondemand::json_type type;
    if (!ok(document.type().get(type))) return false;
    XmlRpcValue error_members[kNotErrorMember];
    bool read = false;
    if (type == ondemand::json_type::object) {
      ondemand::object object;
      read = ok(document.get_object().get(object)) &&
             read_object(object, result, filter_, 0, error_members);
    } else if (type == ondemand::json_type::array) {
      ondemand::array array;
      read = ok(document.get_array().get(array)) && read_array(array, result, filter_, 0);
    } else {
      read = read_scalar(document, type, result);  // valid_login's bare true or false
    }
    if (!read) return false;
    // A root scalar's getters check this themselves; after a container, the end of the
    // structure must be the end of the text.
    const char* rest = nullptr;
    if (type == ondemand::json_type::object || type == ondemand::json_type::array) {
      if (document.current_location().get(rest) != simdjson::OUT_OF_BOUNDS) {
        return fail("more than one JSON value");
      }
    }
    is_fault = false;
    const XmlRpcValue& error = error_members[kError];
    if (error.getType() == XmlRpcValue::TypeBoolean && const_cast<XmlRpcValue&>(error).asBool()) {
      if (error_members[kCode].getType() != XmlRpcValue::TypeInt ||
          error_members[kMessage].getType() != XmlRpcValue::TypeString) {
        return fail("an error reply without an integer code and a message");
      }
      result.clear();
      result["faultCode"] = std::move(error_members[kCode]);
      result["faultString"] = std::move(error_members[kMessage]);
      is_fault = true;
    }
    return true;
  }

  const std::string& error() const { return error_; }

private:
  bool ok(simdjson::error_code code) {
    if (code == simdjson::SUCCESS) return true;
    if (error_.empty()) error_ = simdjson::error_message(code);
    return false;
  }

  bool fail(const char* reason) {
    if (error_.empty()) error_ = reason;
    return false;
  }

  bool enter(int depth) {
    return depth < kMaxNesting || fail("nesting deeper than 64 levels");
  }

  // A null member is left out; a null element stays an invalid value.
  bool is_null(ondemand::value& value, ondemand::json_type type, bool& null) {
    null = false;
    if (type != ondemand::json_type::null) return true;
    return ok(value.is_null().get(null)) && (null || fail("not a JSON literal"));
  }

  bool read_value(ondemand::value& value, ondemand::json_type type, XmlRpcValue& out,
                  const Node* keep, int depth) {
    if (type == ondemand::json_type::object) {
      ondemand::object object;
      return ok(value.get_object().get(object)) && read_object(object, out, keep, depth, nullptr);
    }
    if (type == ondemand::json_type::array) {
      ondemand::array array;
      return ok(value.get_array().get(array)) && read_array(array, out, keep, depth);
    }
    return read_scalar(value, type, out);
  }

  // `error_members`: the root object's, kept whatever the filter says.
  bool read_object(ondemand::object& object, XmlRpcValue& out, const Node* keep, int depth,
                   XmlRpcValue* error_members) {
    if (!enter(depth)) return false;
    std::vector<XmlRpcStruct::Member>& members = pending_[depth];
    members.clear();
    const bool filtered = keep && keep->filtersStructs();
    for (auto item : object) {
      ondemand::field field;
      if (!ok(std::move(item).get(field))) return false;
      std::string_view name;
      if (!plain_key(field, name)) {
        std::string_view key;
        if (!ok(field.unescaped_key().get(key))) return false;
        name_.clear();
        append_usable_utf8(name_, key.data(), key.size());
        name = name_;
      }
      const ErrorMember special = error_members ? error_member(name) : kNotErrorMember;
      const Node* node = filtered ? keep->member(name.data(), name.size()) : nullptr;
      if (filtered && !node && special == kNotErrorMember) continue;  // skipped unread
      ondemand::value value = field.value();
      ondemand::json_type type;
      bool null = false;
      if (!ok(value.type().get(type)) || !is_null(value, type, null)) return false;
      if (null) continue;
      if (special != kNotErrorMember) {
        XmlRpcValue& kept = error_members[special];
        kept.clear();  // a name given twice: the last value counts, as for lookups
        // Named before the value is read: its own member names may reuse name_.
        MemberName named = names_.get(name.data(), name.size());
        if (!read_value(value, type, kept, nullptr, depth + 1)) return false;
        if (!filtered || node) members.emplace_back(std::move(named), kept);
        continue;
      }
      members.emplace_back(names_.get(name.data(), name.size()), XmlRpcValue());
      // Deeper objects collect theirs in lists of their own: this reference stays good.
      if (!read_value(value, type, members.back().second, below(node), depth + 1)) return false;
    }
    XmlRpcStruct& built = out.asStruct();
    built.reserve(members.size());
    for (XmlRpcStruct::Member& member : members) {
      built.append(std::move(member.first)) = std::move(member.second);
    }
    members.clear();
    return true;
  }

  bool read_array(ondemand::array& array, XmlRpcValue& out, const Node* keep, int depth) {
    if (!enter(depth)) return false;
    XmlRpcValue::ValueArray& elements = out.asArray();
    const bool filtered = keep && keep->filtersArrays();
    int index = 0;
    for (auto item : array) {
      ondemand::value value;
      if (!ok(std::move(item).get(value))) return false;
      XmlRpcValue* element = nullptr;
      const Node* node = nullptr;
      if (!filtered) {
        element = &elements.emplace_back();
      } else if ((node = keep->element(index)) != nullptr) {
        element = &elements.emplace_back();
      } else if (index < keep->last_element) {
        elements.emplace_back();  // holds the position of a later kept one
      }
      if (index < INT_MAX) ++index;
      if (!element) continue;  // skipped unread
      ondemand::json_type type;
      bool null = false;
      if (!ok(value.type().get(type)) || !is_null(value, type, null)) return false;
      if (!null && !read_value(value, type, *element, below(node), depth + 1)) return false;
    }
    shrink_to_fit(elements);
    return true;
  }

  // A text is read where it stands in the body when it has no escapes, as nearly every text
  // of a listing; otherwise it is unescaped into a buffer reused for every text. simdjson's
  // own way writes each text to fresh memory, which costs more than reading it.
  template <class Source>
  bool read_string(Source& source, std::string_view& text) {
    const std::string_view token = string_token(source);
    if (token.empty()) return ok(source.get_string().get(text));
    ondemand::raw_json_string raw;  // moves on past the string, nothing copied
    if (!ok(source.get_raw_json_string().get(raw))) return false;
    const std::string_view inside = token.substr(1, token.size() - 2);
    if (std::memchr(inside.data(), '\\', inside.size()) == nullptr) {
      text = inside;
      return true;
    }
    // Unescaped, a text is never longer than its token.
    if (unescaped_.size() < token.size() + simdjson::SIMDJSON_PADDING) {
      unescaped_.resize(token.size() + simdjson::SIMDJSON_PADDING);
    }
    uint8_t* end = unescaped_.data();
    return ok(parser_->unescape(raw, end).get(text));
  }

  // A value or a whole document that is one scalar.
  template <class Source>
  bool read_scalar(Source& source, ondemand::json_type type, XmlRpcValue& out) {
    switch (type) {
      case ondemand::json_type::string: {
        std::string_view text;
        if (!read_string(source, text)) return false;
        append_usable_utf8(out.asString(), text.data(), text.size());
        return true;
      }
      case ondemand::json_type::boolean: {
        bool flag = false;
        if (!ok(source.get_bool().get(flag))) return false;
        out = flag;
        return true;
      }
      case ondemand::json_type::number: {
        ondemand::number_type kind;
        if (!ok(source.get_number_type().get(kind))) return false;
        int64_t integer = 0;
        if (kind == ondemand::number_type::signed_integer &&
            source.get_int64().get(integer) == simdjson::SUCCESS) {
          if (integer >= INT_MIN && integer <= INT_MAX) {
            out = static_cast<int>(integer);
          } else {
            out = static_cast<double>(integer);
          }
          return true;
        }
        double number = 0;
        if (source.get_double().get(number) != simdjson::SUCCESS) {
          // simdjson reads neither an int64 nor a double from an integer below -2^63: its
          // digits are converted here.
          std::string_view token;
          if (!raw_token(source.raw_json_token(), token)) return fail("a number out of range");
          while (!token.empty() && is_json_space(token.back())) token.remove_suffix(1);
          if (token.size() < 2 || token[0] != '-' ||
              token.find_first_not_of("0123456789", 1) != std::string_view::npos) {
            return fail("not a JSON number");
          }
          const auto parsed =
              std::from_chars(token.data(), token.data() + token.size(), number);
          if (parsed.ec != std::errc() || parsed.ptr != token.data() + token.size()) {
            return fail("a number out of range");
          }
        }
        out = number;
        return true;
      }
      case ondemand::json_type::null: {
        bool null = false;
        return ok(source.is_null().get(null)) && (null || fail("not a JSON literal"));
      }
      default:
        return fail("not a JSON value");
    }
  }

  const Node* filter_;
  std::string error_;
  std::string name_;  // the member name being read, when it had to be unescaped and repaired
  ondemand::parser* parser_ = nullptr;  // the one reading the body
  std::vector<uint8_t> unescaped_;      // the text being read, when it had escapes
  MemberNameCache names_;
  // The members read so far of each object being read, by nesting level, reused from object
  // to object: each struct is then made with exactly the room it needs, at once.
  std::vector<XmlRpcStruct::Member> pending_[kMaxNesting];
};

// A body of unknown size starts with this much room and doubles it as it grows.
constexpr size_t kFirstRoom = 16 * 1024;
// What a reply needed is kept for the next one up to this size (body and parser alike).
constexpr size_t kKeptRoom = 4 * 1024 * 1024;

// simdjson refuses ill-formed UTF-8 and raw control characters in strings, which XML-RPC
// replies would have had replaced. Such a body is repaired the same way (see XmlTextRepair)
// and read again; false when there was nothing to repair.
bool repair_body(const char* body, size_t size, std::string& repaired) {
  XmlTextRepair repair(false);
  bool changed = false;
  repair.feed(body, size, true, [&](const char* piece, size_t n) {
    changed = piece != body;  // clean text passes uncopied
    if (!changed) return;
    repaired.reserve(n + simdjson::SIMDJSON_PADDING);
    repaired.assign(piece, n);
  });
  return changed;
}

}  // namespace

// The body grows with realloc: a large block is then moved by the kernel's page tables rather
// than copied, and never needs joining. simdjson reads SIMDJSON_PADDING bytes past its end.
struct JsonScratch::Parts {
  char* body = nullptr;
  size_t size = 0;
  size_t room = 0;  // bytes of body there is room for, padding not counted
  std::unique_ptr<ondemand::parser> parser;

  ~Parts() { std::free(body); }

  void reserve(size_t bytes) {
    if (bytes <= room) return;
    if (bytes > SIZE_MAX / 2 - simdjson::SIMDJSON_PADDING) throw std::bad_alloc();
    void* grown = std::realloc(body, bytes + simdjson::SIMDJSON_PADDING);
    if (grown == nullptr) throw std::bad_alloc();  // the old block stays ours
    body = static_cast<char*>(grown);
    room = bytes;
  }

  void append(const char* data, size_t count) {
    if (count == 0) return;  // an empty piece: there may be no block to copy into yet
    if (count > room - size) {
      if (count > SIZE_MAX / 4 - size) throw std::bad_alloc();
      reserve(std::max({size + count, room * 2, kFirstRoom}));
    }
    std::memcpy(body + size, data, count);
    size += count;
  }

  void release_body() noexcept {
    std::free(body);
    body = nullptr;
    size = 0;
    room = 0;
  }

  // Ready for the next reply, keeping the room of a usual one.
  void reset() noexcept {
    size = 0;
    if (room > kKeptRoom) release_body();
    if (parser && parser->capacity() > kKeptRoom) parser.reset();
  }

  ondemand::parser& simdjson_parser() {
    if (!parser) parser = std::make_unique<ondemand::parser>();
    return *parser;
  }
};

JsonScratch::JsonScratch() : parts_(std::make_unique<Parts>()) {}
JsonScratch::~JsonScratch() = default;

JsonResponse::JsonResponse(XmlRpcValue& result, const XmlRpcFilter* filter, JsonScratch* scratch)
    : result_(result),
      filter_(filter),
      own_scratch_(scratch ? nullptr : std::make_unique<JsonScratch>()),
      scratch_(*(scratch ? scratch : own_scratch_.get())->parts_) {
  result_.clear();
  scratch_.size = 0;
}

JsonResponse::~JsonResponse() { scratch_.reset(); }

void JsonResponse::expect(size_t bytes) { scratch_.reserve(bytes); }

void JsonResponse::feed(const char* data, size_t size) { scratch_.append(data, size); }

bool JsonResponse::finish(std::string& error, bool* is_fault) {
  if (is_fault) *is_fault = false;
  error.clear();
  struct Reset {  // the body is dropped however this ends
    JsonScratch::Parts& parts;
    ~Reset() { parts.reset(); }
  } reset{scratch_};
  const size_t size = scratch_.size;
  if (size == 0) {
    error = "the reply is empty";
    return false;
  }
  std::memset(scratch_.body + size, ' ', simdjson::SIMDJSON_PADDING);
  const size_t padded = size + simdjson::SIMDJSON_PADDING;
  bool fault = false;
  Decoder decoder(filter_);
  if (!decoder.decode(scratch_.simdjson_parser(), scratch_.body, size, padded, result_, fault)) {
    result_.clear();
    std::string repaired;
    if (!repair_body(scratch_.body, size, repaired)) {
      error = decoder.error();
      return false;
    }
    scratch_.release_body();  // so that the body is not held twice over
    const size_t repaired_size = repaired.size();
    repaired.resize(repaired_size + simdjson::SIMDJSON_PADDING, ' ');
    Decoder again(filter_);
    if (!again.decode(scratch_.simdjson_parser(), repaired.data(), repaired_size,
                      repaired.size(), result_, fault)) {
      error = again.error();
      result_.clear();
      return false;
    }
  }
  if (is_fault) *is_fault = fault;
  return true;
}

bool decode_json(const char* data, size_t size, XmlRpcValue& result, std::string& error,
                 bool* is_fault, const XmlRpcFilter* filter) {
  JsonResponse response(result, filter);
  response.expect(size);
  response.feed(data, size);
  return response.finish(error, is_fault);
}

}  // namespace detail
}  // namespace XmlRpc
