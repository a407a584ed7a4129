// Readable output for a person: aligned tables whose widest column is cut to the terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// Columns available: COLUMNS when set to a number, else the terminal's width when standard
// output is a terminal, else 100.
int terminal_width();

// Characters a text takes on screen (UTF-8 code points; bytes of invalid sequences count one).
size_t display_length(std::string_view text);

// One line of the text: line breaks and tabs become spaces, other control characters are
// dropped, and when it is longer than `width` it is cut (never inside a UTF-8 sequence)
// and ends in "...".
std::string one_line(std::string_view text, size_t width);

// Columns are left-aligned and separated by two spaces. Every column but the last is as wide
// as its widest cell; the last takes what remains of `width` (at least 12 characters), and
// its cells are cut to fit.
class Table {
public:
  explicit Table(std::vector<std::string> headers) : headers_(std::move(headers)) {}
  void add_row(std::vector<std::string> cells);
  std::string render(int width) const;

private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

// Each line of the text, indented, without control characters other than tabs; for long
// free texts such as a bug's first comment.
std::string indent_lines(std::string_view text, std::string_view indent);

}  // namespace host
