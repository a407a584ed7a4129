// A small strict JSON reader for the check-in description of `attach --files-json`.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace host {

struct JsonValue {
  enum class Kind { Null, Boolean, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // a string's content (UTF-8), or a number exactly as written
  std::vector<JsonValue> elements;
  std::vector<std::pair<std::string, JsonValue>> members;  // in document order, names unique

  const JsonValue* find(const std::string& name) const;
};

// The reason and the position (line and column, both from 1) of the first error.
class JsonError : public std::runtime_error {
public:
  JsonError(const std::string& reason, int line, int column);
};

// Parses exactly one JSON document (RFC 8259) with surrounding white space. Strict: no
// comments, no trailing commas, no duplicate member names, no invalid UTF-8, no unpaired
// surrogate escapes, nesting at most 64 deep. Throws JsonError.
JsonValue parse_json(const std::string& text);

const char* json_kind_name(JsonValue::Kind kind);

}  // namespace host
