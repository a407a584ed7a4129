// ASCII letter case, the one fold the project uses: protocol words (schemes, header names,
// member values) and host names compare without regard to case, never by the C locale.
#pragma once

#include <string>
#include <string_view>

namespace XmlRpc {

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string asciiLowercase(std::string text) {
  for (char& c : text) c = asciiLower(c);
  return text;
}

inline bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

inline bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace XmlRpc
