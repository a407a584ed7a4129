#include "json_reader.h"

#include "utf8.h"

#include <cstdint>

namespace host {

const JsonValue* JsonValue::find(const std::string& name) const {
  for (const auto& member : members) {
    if (member.first == name) return &member.second;
  }
  return nullptr;
}

JsonError::JsonError(const std::string& reason, int line, int column)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) +
                         ": " + reason) {}

const char* json_kind_name(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Boolean: return "a boolean";
    case JsonValue::Kind::Number: return "a number";
    case JsonValue::Kind::String: return "a string";
    case JsonValue::Kind::Array: return "an array";
    case JsonValue::Kind::Object: return "an object";
  }
  return "a value";
}

namespace {

constexpr int kMaxDepth = 64;

class Parser {
public:
  explicit Parser(const std::string& text) : text_(text) {}

  JsonValue document() {
    skip_space();
    JsonValue value = parse_value(0);
    skip_space();
    if (pos_ != text_.size()) fail("unexpected text after the document");
    return value;
  }

private:
  [[noreturn]] void fail(const std::string& reason) const {
    int line = 1, column = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) {
        ++column;  // count characters, not UTF-8 continuation bytes
      }
    }
    throw JsonError(reason, line, column);
  }

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[pos_]; }

  void skip_space() {
    while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
      ++pos_;
    }
  }

  void expect_word(const char* word) {
    for (const char* c = word; *c != '\0'; ++c) {
      if (peek() != *c) fail(std::string("invalid literal (expected ") + word + ")");
      ++pos_;
    }
  }

  JsonValue parse_value(int depth) {
    if (at_end()) fail("unexpected end of the document");
    JsonValue value;
    const char c = peek();
    if (c == '{') {
      if (depth >= kMaxDepth) fail("nested too deeply");
      parse_object(value, depth + 1);
    } else if (c == '[') {
      if (depth >= kMaxDepth) fail("nested too deeply");
      parse_array(value, depth + 1);
    } else if (c == '"') {
      value.kind = JsonValue::Kind::String;
      value.text = parse_string();
    } else if (c == 't') {
      expect_word("true");
      value.kind = JsonValue::Kind::Boolean;
      value.boolean = true;
    } else if (c == 'f') {
      expect_word("false");
      value.kind = JsonValue::Kind::Boolean;
    } else if (c == 'n') {
      expect_word("null");
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      value.kind = JsonValue::Kind::Number;
      value.text = parse_number();
    } else {
      fail(std::string("unexpected character '") + c + "'");
    }
    return value;
  }

  void parse_object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Object;
    ++pos_;  // '{'
    skip_space();
    if (peek() == '}') {
      ++pos_;
      return;
    }
    for (;;) {
      skip_space();
      if (peek() != '"') fail("expected a member name in double quotes");
      const size_t name_pos = pos_;
      std::string name = parse_string();
      if (value.find(name) != nullptr) {
        pos_ = name_pos;
        fail("member \"" + name + "\" given twice");
      }
      skip_space();
      if (peek() != ':') fail("expected ':' after a member name");
      ++pos_;
      skip_space();
      JsonValue member = parse_value(depth);
      value.members.emplace_back(std::move(name), std::move(member));
      skip_space();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == '}') {
        ++pos_;
        return;
      }
      fail("expected ',' or '}' in an object");
    }
  }

  void parse_array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Array;
    ++pos_;  // '['
    skip_space();
    if (peek() == ']') {
      ++pos_;
      return;
    }
    for (;;) {
      skip_space();
      value.elements.push_back(parse_value(depth));
      skip_space();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == ']') {
        ++pos_;
        return;
      }
      fail("expected ',' or ']' in an array");
    }
  }

  std::string parse_number() {
    const size_t start = pos_;
    const auto digits = [&] {
      const size_t first = pos_;
      while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
      if (pos_ == first) fail("a digit is missing in a number");
    };
    if (peek() == '-') ++pos_;
    if (peek() == '0') {
      ++pos_;
      if (peek() >= '0' && peek() <= '9') fail("a number must not start with 0");
    } else {
      digits();
    }
    if (peek() == '.') {
      ++pos_;
      digits();
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      digits();
    }
    return text_.substr(start, pos_ - start);
  }

  unsigned hex4() {
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = peek();
      unsigned digit;
      if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
      else fail("\\u needs four hexadecimal digits");
      code = code * 16 + digit;
      ++pos_;
    }
    return code;
  }

  static void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  void escape(std::string& out) {
    ++pos_;  // '\'
    const char c = peek();
    ++pos_;
    switch (c) {
      case '"': out += '"'; return;
      case '\\': out += '\\'; return;
      case '/': out += '/'; return;
      case 'b': out += '\b'; return;
      case 'f': out += '\f'; return;
      case 'n': out += '\n'; return;
      case 'r': out += '\r'; return;
      case 't': out += '\t'; return;
      case 'u': break;
      default: --pos_; fail("unknown escape in a string");
    }
    uint32_t code = hex4();
    if (code >= 0xDC00 && code <= 0xDFFF) fail("unpaired surrogate escape");
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (peek() != '\\' || pos_ + 1 >= text_.size() || text_[pos_ + 1] != 'u') {
        fail("unpaired surrogate escape");
      }
      pos_ += 2;
      const uint32_t low = hex4();
      if (low < 0xDC00 || low > 0xDFFF) fail("unpaired surrogate escape");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, code);
  }

  // Copies one raw UTF-8 character, checking that it is well formed.
  void utf8_character(std::string& out) {
    const size_t length = utf8_sequence_length(text_, pos_);
    if (length == 0) fail("invalid UTF-8 in a string");
    out.append(text_, pos_, length);
    pos_ += length;
  }

  std::string parse_string() {
    ++pos_;  // opening quote
    std::string out;
    for (;;) {
      if (at_end()) fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(peek());
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c == '\\') {
        escape(out);
      } else if (c < 0x20) {
        fail("control character in a string (write it as an escape)");
      } else if (c >= 0x80) {
        utf8_character(out);
      } else {
        out += static_cast<char>(c);
        ++pos_;
      }
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
};

}  // namespace

JsonValue parse_json(const std::string& text) { return Parser(text).document(); }

}  // namespace host
