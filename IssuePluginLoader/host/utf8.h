// UTF-8 checks shared by the JSON writer, the JSON reader and the table layout.
#pragma once

#include <cstddef>
#include <string_view>

namespace host {

// Length of the well-formed UTF-8 sequence that starts at text[i] (1 for ASCII), or 0 when
// the bytes there are not one (overlong forms, surrogates, code points above U+10FFFF).
size_t utf8_sequence_length(std::string_view text, size_t i);

}  // namespace host
