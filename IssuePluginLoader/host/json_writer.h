// Writes the --json output: a small indenting writer and a correct string escaper.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The text as a JSON string literal, quotes included. Valid UTF-8 passes through unchanged;
// control characters, quote and backslash are escaped; a byte that is not part of a valid
// UTF-8 sequence becomes U+FFFD so that the output is always valid JSON.
std::string json_quote(std::string_view text);

// Builds one JSON document. Calls must nest correctly (the commands are the only callers);
// inside an object every value is preceded by key().
class JsonWriter {
public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text);  // null writes null
  JsonWriter& value(int64_t number);
  JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(bool flag);
  JsonWriter& null();

  // The document with a final line feed.
  std::string str() const { return out_ + "\n"; }

private:
  void before_value();
  void open(char bracket);
  void close(char bracket);
  void newline();

  std::string out_;
  // Per open container: whether it has an element yet.
  std::vector<bool> has_elements_;
  bool after_key_ = false;
};

}  // namespace host
