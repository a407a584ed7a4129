#include "json_decode.h"

#include "member_name_cache.h"
#include "wire_decode.h"

#include <simdjson.h>

#include <charconv>
#include <climits>
#include <cstdint>
#include <string_view>
#include <utility>

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

ErrorMember error_member(const std::string& name) {
  if (name == "error") return kError;
  if (name == "code") return kCode;
  if (name == "message") return kMessage;
  return kNotErrorMember;
}

// On-demand: values the filter drops are skipped over, never built. Every simdjson call that
// fails sets the reason and unwinds through the `false` returns.
class Decoder {
public:
  explicit Decoder(const XmlRpcFilter* filter) : filter_(filter ? filter->root() : nullptr) {}

  bool decode(const char* data, size_t size, size_t allocated, XmlRpcValue& result,
              bool& is_fault) {
    ondemand::parser parser;
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
    XmlRpcStruct& members = out.asStruct();
    const bool filtered = keep && keep->filtersStructs();
    for (auto item : object) {
      ondemand::field field;
      std::string_view key;
      if (!ok(std::move(item).get(field)) || !ok(field.unescaped_key().get(key))) return false;
      name_.clear();
      append_usable_text(name_, key.data(), key.size());
      const ErrorMember special = error_members ? error_member(name_) : kNotErrorMember;
      const Node* node = filtered ? keep->member(name_.data(), name_.size()) : nullptr;
      if (filtered && !node && special == kNotErrorMember) continue;  // skipped unread
      ondemand::value value = field.value();
      ondemand::json_type type;
      bool null = false;
      if (!ok(value.type().get(type)) || !is_null(value, type, null)) return false;
      if (null) continue;
      if (special != kNotErrorMember) {
        XmlRpcValue& kept = error_members[special];
        if (!read_value(value, type, kept, nullptr, depth + 1)) return false;
        if (!filtered || node) members.append(names_.get(name_.data(), name_.size())) = kept;
        continue;
      }
      XmlRpcValue& member = members.append(names_.get(name_.data(), name_.size()));
      if (!read_value(value, type, member, below(node), depth + 1)) return false;
    }
    members.shrinkToFit();
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
    elements.shrink_to_fit();
    return true;
  }

  // A value or a whole document that is one scalar.
  template <class Source>
  bool read_scalar(Source& source, ondemand::json_type type, XmlRpcValue& out) {
    switch (type) {
      case ondemand::json_type::string: {
        std::string_view text;
        if (!ok(source.get_string().get(text))) return false;
        append_usable_text(out.asString(), text.data(), text.size());
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
  std::string name_;  // the member name being read, repaired
  MemberNameCache names_;
};

}  // namespace

JsonResponse::JsonResponse(XmlRpcValue& result, const XmlRpcFilter* filter)
    : result_(result), filter_(filter) {
  result_.clear();
}

void JsonResponse::expect(size_t bytes) {
  if (body_.capacity() < bytes + simdjson::SIMDJSON_PADDING) {
    body_.reserve(bytes + simdjson::SIMDJSON_PADDING);
  }
}

void JsonResponse::feed(const char* data, size_t size) {
  repair_.feed(data, size, false, [this](const char* piece, size_t n) { body_.append(piece, n); });
}

bool JsonResponse::finish(std::string& error, bool* is_fault) {
  if (is_fault) *is_fault = false;
  error.clear();
  repair_.feed(nullptr, 0, true, [this](const char* piece, size_t n) { body_.append(piece, n); });
  std::string body;
  body.swap(body_);  // released when this call ends
  const size_t size = body.size();
  if (size == 0) {
    error = "the reply is empty";
    return false;
  }
  body.resize(size + simdjson::SIMDJSON_PADDING, ' ');  // in the room reserved, mostly
  Decoder decoder(filter_);
  bool fault = false;
  if (!decoder.decode(body.data(), size, body.size(), result_, fault)) {
    error = decoder.error();
    result_.clear();
    return false;
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
