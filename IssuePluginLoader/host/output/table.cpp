#include "output/table.h"

#include "platform/terminal.h"

#include <algorithm>
#include <cstdlib>

namespace host {

int terminal_width() {
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && value >= 20 && value <= 10000) {
      return static_cast<int>(value);
    }
  }
  const int columns = terminal_columns();
  return columns >= 20 ? columns : 100;
}

namespace {

// Length of the well-formed UTF-8 sequence that starts at text[i] (1 for ASCII), or 0 when
// the bytes there are not one (overlong forms, surrogates, code points above U+10FFFF).
size_t utf8_sequence_length(std::string_view text, size_t i) {
  if (i >= text.size()) return 0;
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;  // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;  // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

size_t step(std::string_view text, size_t i) {
  const size_t length = utf8_sequence_length(text, i);
  return length == 0 ? 1 : length;
}

}  // namespace

size_t display_length(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); i += step(text, i)) ++count;
  return count;
}

std::string one_line(std::string_view text, size_t width) {
  std::string flat;
  flat.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = step(text, i);
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\t' || c == '\r') {
      if (c != '\r' || (i + 1 < text.size() && text[i + 1] != '\n')) flat += ' ';
    } else if (c >= 0x20 && c != 0x7f) {
      flat.append(text.substr(i, length));
    }
    i += length;
  }
  if (display_length(flat) <= width) return flat;
  const size_t keep = width > 3 ? width - 3 : 0;
  size_t i = 0;
  for (size_t count = 0; count < keep && i < flat.size(); ++count) i += step(flat, i);
  return flat.substr(0, i) + std::string("...").substr(0, std::min<size_t>(3, width));
}

void Table::add_row(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  rows_.push_back(std::move(cells));
}

std::string Table::render(int width) const {
  const size_t columns = headers_.size();
  std::vector<size_t> widths(columns, 0);
  const auto measure = [&](const std::vector<std::string>& cells) {
    for (size_t c = 0; c < columns; ++c) {
      widths[c] = std::max(widths[c], display_length(one_line(cells[c], SIZE_MAX)));
    }
  };
  measure(headers_);
  for (const auto& row : rows_) measure(row);

  size_t used = 0;
  for (size_t c = 0; c + 1 < columns; ++c) used += widths[c] + 2;
  const size_t total = static_cast<size_t>(std::max(width, 20));
  const size_t last = total > used + 12 ? total - used : 12;
  if (columns > 0) widths[columns - 1] = std::min(widths[columns - 1], last);

  std::string out;
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < columns; ++c) {
      const std::string cell = one_line(cells[c], widths[c]);
      text += cell;
      if (c + 1 < columns) text.append(widths[c] - display_length(cell) + 2, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text;
    out += '\n';
  };
  line(headers_);
  for (const auto& row : rows_) line(row);
  return out;
}

std::string indent_lines(std::string_view text, std::string_view indent) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out += indent;
    // Server texts reach a terminal: keep tabs, drop other control characters (escapes).
    for (char c : line) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (u >= 0x20 ? u != 0x7f : c == '\t') out += c;
    }
    out += '\n';
    if (end == text.size()) break;
    start = end + 1;
  }
  return out;
}

}  // namespace host
