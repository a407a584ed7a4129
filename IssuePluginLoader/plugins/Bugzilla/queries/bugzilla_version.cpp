#include "bugzilla_version.h"

#include <cctype>

namespace bugzilla {

namespace {

// The number at `at` (capped, so that a run of digits cannot overflow); -1 when none.
long read_number(const std::string& text, size_t& at, size_t* digits) {
  if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return -1;
  long number = 0;
  const size_t start = at;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    if (number < 100000000) number = number * 10 + (text[at] - '0');
  }
  if (digits) *digits = at - start;
  return number;
}

}  // namespace

bool version_below(const std::string& version, int major, int minor) {
  size_t at = 0;
  size_t digits = 0;
  const long first = read_number(version, at, &digits);
  if (first < 0) return true;
  if (digits == 8) return false;  // a date: bugzilla.mozilla.org's rolling version
  if (first != major) return first < major;
  long second = 0;
  if (at < version.size() && version[at] == '.') {
    ++at;
    second = read_number(version, at, nullptr);
    if (second < 0) second = 0;
  }
  return second < minor;
}

}  // namespace bugzilla
