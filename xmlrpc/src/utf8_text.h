// UTF-8 checks and repairs for XML text: what goes out must be well-formed XML whatever bytes
// the caller holds, and what comes in must not fail on a stray control character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace XmlRpc {
namespace detail {

// One step through UTF-8 text. A well-formed sequence gives its code point and length (1-4);
// an ill-formed one gives valid == false and the length of its maximal ill-formed subpart
// (at least 1), so that each broken sequence is replaced once.
struct Utf8Step {
  uint32_t code_point;
  int length;
  bool valid;
};
Utf8Step next_utf8(const unsigned char* p, const unsigned char* end) noexcept;

// True for the characters XML 1.0 allows in a document.
inline bool is_xml_char(uint32_t c) noexcept {
  if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
  return c < 0xFFFE || (c > 0xFFFF && c <= 0x10FFFF);
}

// Appends `code_point` as UTF-8.
void append_utf8(std::string& out, uint32_t code_point);

// The Unicode character a Windows-1252 byte stands for; U+FFFD for its five unassigned bytes.
uint32_t windows1252_to_unicode(unsigned char byte) noexcept;

// Appends `size` bytes of caller text as XML character data: valid UTF-8 unchanged, any
// ill-formed byte taken as Windows-1252, characters XML forbids as U+FFFD, & < > escaped and a
// carriage return as &#13; (a literal one would become a line feed on the server's side).
void append_xml_text(std::string& out, const char* data, size_t size);

// Repairs a reply as it arrives, piece by piece: each ill-formed UTF-8 subpart, each
// character XML forbids and each character reference to such a character becomes U+FFFD.
// A sequence or reference cut by a piece's end is held back until the next piece decides it,
// so the result does not depend on where the pieces were cut. Clean pieces pass uncopied.
// Without `character_references` (a JSON body) '&' is plain text and only the bytes are
// repaired.
class XmlTextRepair {
public:
  explicit XmlTextRepair(bool character_references = true) : references_(character_references) {}

  // Passes the repaired bytes on as sink(data, size), in one call or none. `last`: no more
  // bytes follow, so nothing is held back.
  template <class Sink>
  void feed(const char* data, size_t size, bool last, Sink&& sink) {
    const char* out = nullptr;
    size_t out_size = 0;
    repair(data, size, last, out, out_size);
    if (out_size > 0) sink(out, out_size);
  }

private:
  void repair(const char* data, size_t size, bool last, const char*& out, size_t& out_size);

  std::string held_;     // an undecided tail of the previous piece
  std::string joined_;   // the held tail with the next piece behind it
  std::string repaired_;
  bool references_;
};

// A whole text repaired at once.
std::string replace_unusable_xml_text(const char* data, size_t size);

// Appends text that holds no character references (a decoded JSON string) with ill-formed
// UTF-8 and the characters XML forbids replaced as above; true when something was replaced.
bool append_usable_text(std::string& out, const char* data, size_t size);

// The same for text known to be well-formed UTF-8 but for surrogates (what simdjson decodes):
// only control characters and the lead bytes of U+D000-U+DFFF and U+F000-U+FFFF need a closer
// look, so most text is just copied.
bool append_usable_utf8(std::string& out, const char* data, size_t size);

}  // namespace detail
}  // namespace XmlRpc
