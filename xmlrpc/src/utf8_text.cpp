#include "utf8_text.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace XmlRpc {
namespace detail {

namespace {

const char kReplacementUtf8[] = "\xEF\xBF\xBD";

bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// A character reference at p ("&#11;", "&#x0B;"): `length` is its length when it names a
// character XML forbids, else 0; `decided` is false when the text ends before that is known.
struct ReferenceCheck {
  bool decided;
  size_t length;
};

ReferenceCheck check_reference(const unsigned char* p, const unsigned char* end) noexcept {
  if (end - p < 2) return {false, 0};
  if (p[1] != '#') return {true, 0};
  if (end - p < 3) return {false, 0};
  const bool hex = p[2] == 'x';
  const unsigned char* q = p + (hex ? 3 : 2);
  uint32_t code_point = 0;
  bool too_large = false;
  int digits = 0;
  for (; q < end && *q != ';'; ++q, ++digits) {
    int digit;
    if (*q >= '0' && *q <= '9') {
      digit = *q - '0';
    } else if (hex && *q >= 'a' && *q <= 'f') {
      digit = *q - 'a' + 10;
    } else if (hex && *q >= 'A' && *q <= 'F') {
      digit = *q - 'A' + 10;
    } else {
      return {true, 0};
    }
    code_point = code_point * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    if (code_point > 0x10FFFF) {
      too_large = true;
      code_point = 0x110000;  // stays out of range without overflowing
    }
  }
  if (q == end) return {false, 0};
  if (digits == 0 || (!too_large && is_xml_char(code_point))) return {true, 0};
  return {true, static_cast<size_t>(q + 1 - p)};
}

// Where a scan for unusable text stopped: at the end, at `length` unusable bytes, or at a
// sequence the text ends too early to judge.
struct ScanStop {
  enum Kind { End, Unusable, Undecided };
  const unsigned char* at;
  Kind kind;
  size_t length;
};

// True when none of the eight bytes needs a closer look: all printable ASCII, no '&'.
template <bool references>
inline bool plain_word(uint64_t w) noexcept {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  const uint64_t below_space = (w - kOnes * 0x20) & ~w;  // high bit set for a byte < 0x20
  const uint64_t ampersands = w ^ (kOnes * '&');
  const uint64_t is_ampersand = (ampersands - kOnes) & ~ampersands;
  return ((w | below_space | (references ? is_ampersand : 0)) & kHighs) == 0;
}

// `references`: '&' starts a character reference (XML) or is plain text (JSON).
template <bool references>
ScanStop scan_usable(const unsigned char* p, const unsigned char* end, bool last) noexcept {
  while (p < end) {
    // Most of a reply is markup and ASCII text: skip it sixteen bytes or a word at a time.
#if defined(__SSE2__)
    while (end - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      // Signed, bytes from 0x80 up compare below 0x20 too.
      __m128i odd = _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20));
      if (references) odd = _mm_or_si128(odd, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')));
      if (_mm_movemask_epi8(odd) != 0) break;
      p += 16;
    }
#endif
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if (!plain_word<references>(word)) break;
      p += 8;
    }
    if (p == end) break;
    const unsigned char byte = *p;
    if (byte >= 0x20 && byte < 0x80) {
      if (references && byte == '&') {
        const ReferenceCheck reference = check_reference(p, end);
        if (!reference.decided && !last) return {p, ScanStop::Undecided, 0};
        if (reference.length > 0) return {p, ScanStop::Unusable, reference.length};
      }
      ++p;
      continue;
    }
    if (byte < 0x20) {
      if (byte != '\t' && byte != '\n' && byte != '\r') return {p, ScanStop::Unusable, 1};
      ++p;
      continue;
    }
    // The common two- and three-byte forms, none of which XML forbids; the rest goes the
    // long way.
    if (byte >= 0xC2 && byte <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
      p += 2;
      continue;
    }
    if (((byte >= 0xE1 && byte <= 0xEC) || byte == 0xEE) && end - p >= 3 &&
        (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
      p += 3;
      continue;
    }
    const Utf8Step step = next_utf8(p, end);
    const size_t length = static_cast<size_t>(step.length);
    if (!step.valid && !last && length >= static_cast<size_t>(end - p)) {
      return {p, ScanStop::Undecided, 0};
    }
    if (!step.valid || !is_xml_char(step.code_point)) return {p, ScanStop::Unusable, length};
    p += length;
  }
  return {end, ScanStop::End, 0};
}

// Longer undecided tails are passed on as they are: only a reference padded with hundreds of
// zeros gets there, and holding it would make each piece rescan it.
constexpr size_t kLongestHeldTail = 64;

// A byte append_usable_utf8 must look closer at: a control character but tab, line feed and
// carriage return, or 0xED or 0xEF.
inline bool suspect_byte(unsigned char byte) noexcept {
  if (byte < 0x20) return byte != '\t' && byte != '\n' && byte != '\r';
  return byte == 0xED || byte == 0xEF;
}

bool has_suspect_byte(const unsigned char* p, const unsigned char* end) noexcept {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x1F)), bytes);
    // 0xED and 0xEF are the bytes that read 0xEF with bit 1 set.
    const __m128i lead = _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x02)),
                                        _mm_set1_epi8(static_cast<char>(0xEF)));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, lead)));
    for (; mask != 0; mask &= mask - 1) {
      if (suspect_byte(p[__builtin_ctz(mask)])) return true;
    }
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    if (suspect_byte(*p)) return true;
  }
  return false;
}

}  // namespace

Utf8Step next_utf8(const unsigned char* p, const unsigned char* end) noexcept {
  const unsigned char lead = p[0];
  if (lead < 0x80) return {lead, 1, true};

  // Well-formed sequences (Unicode table 3-7): the second byte's range depends on the lead,
  // which rules out overlong forms, surrogates and code points above U+10FFFF.
  int length;
  unsigned char second_low = 0x80, second_high = 0xBF;
  uint32_t code_point;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return {0, 1, false};
  }

  for (int i = 1; i < length; ++i) {
    if (p + i >= end) return {0, i, false};
    const unsigned char byte = p[i];
    const bool in_range = i == 1 ? (byte >= second_low && byte <= second_high)
                                 : is_continuation(byte);
    if (!in_range) return {0, i, false};
    code_point = (code_point << 6) | (byte & 0x3F);
  }
  return {code_point, length, true};
}

void append_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

uint32_t windows1252_to_unicode(unsigned char byte) noexcept {
  // 0x80-0x9F hold typographic characters; the rest of the upper half is Latin-1.
  static const uint16_t kHigh[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
  return byte;
}

void append_xml_text(std::string& out, const char* data, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* const end = p + size;
  out.reserve(out.size() + size);
  while (p < end) {
    // Copy the run of plain ASCII in one go; most text is nothing else.
    const unsigned char* run = p;
    while (run < end && *run >= 0x20 && *run < 0x80 && *run != '&' && *run != '<' &&
           *run != '>') {
      ++run;
    }
    out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(run - p));
    p = run;
    if (p == end) break;

    const unsigned char byte = *p;
    if (byte < 0x80) {
      switch (byte) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break;
        case '\t':
        case '\n': out.push_back(static_cast<char>(byte)); break;
        default: out += kReplacementUtf8; break;
      }
      ++p;
      continue;
    }

    const Utf8Step step = next_utf8(p, end);
    if (step.valid) {
      if (is_xml_char(step.code_point)) {
        out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(step.length));
      } else {
        out += kReplacementUtf8;
      }
    } else {
      // Not UTF-8: the text came from a Windows code page; keep its characters.
      for (int i = 0; i < step.length; ++i) append_utf8(out, windows1252_to_unicode(p[i]));
    }
    p += step.length;
  }
}

void XmlTextRepair::repair(const char* data, size_t size, bool last, const char*& out,
                           size_t& out_size) {
  if (!held_.empty()) {
    joined_.assign(held_);
    joined_.append(data, size);
    held_.clear();
    data = joined_.data();
    size = joined_.size();
  }
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* end = p + size;
  const unsigned char* run = p;  // the start of the bytes not yet copied or passed on
  bool changed = false;
  while (p < end) {
    const ScanStop stop = references_ ? scan_usable<true>(p, end, last)
                                      : scan_usable<false>(p, end, last);
    p = stop.at;
    if (stop.kind == ScanStop::End) break;
    if (stop.kind == ScanStop::Undecided) {
      if (static_cast<size_t>(end - p) <= kLongestHeldTail) {
        held_.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
        end = p;
      } else {
        p = end;  // see kLongestHeldTail
      }
      break;
    }
    if (!changed) repaired_.clear();
    changed = true;
    repaired_.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
    repaired_ += kReplacementUtf8;
    p += stop.length;
    run = p;
  }
  if (!changed) {
    out = reinterpret_cast<const char*>(run);
    out_size = static_cast<size_t>(end - run);
    return;
  }
  repaired_.append(reinterpret_cast<const char*>(run), static_cast<size_t>(end - run));
  out = repaired_.data();
  out_size = repaired_.size();
}

std::string replace_unusable_xml_text(const char* data, size_t size) {
  XmlTextRepair repair(true);
  std::string out;
  repair.feed(data, size, true, [&out](const char* piece, size_t n) { out.append(piece, n); });
  return out;
}

bool append_usable_text(std::string& out, const char* data, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const ScanStop first = scan_usable<false>(p, p + size, true);
  if (first.kind == ScanStop::End) {
    out.append(data, size);
    return false;
  }
  XmlTextRepair repair(false);
  repair.feed(data, size, true, [&out](const char* piece, size_t n) { out.append(piece, n); });
  return true;
}

bool append_usable_utf8(std::string& out, const char* data, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  if (has_suspect_byte(p, p + size)) return append_usable_text(out, data, size);
  out.append(data, size);
  return false;
}

}  // namespace detail
}  // namespace XmlRpc
