#include "format/text.h"

#include <cstring>

namespace {

constexpr char replacement[] = "\xEF\xBF\xBD";

void append_code_point(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | cp >> 18));
    out->push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The length of the valid UTF-8 sequence at text[i], or 0 when none starts
// there; *bad receives the length of the maximal invalid subpart then.
size_t utf8_sequence(byte_view text, size_t i, size_t* bad) {
  const uint8_t b = text[i];
  *bad = 1;
  if (b < 0x80) return 1;
  size_t need;
  uint8_t low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k <= need; ++k) {
    if (i + k >= text.size()) return 0;
    const uint8_t c = text[i + k];
    const uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
    if (c < lo || c > hi) return 0;
    *bad = k + 1;
  }
  return need + 1;
}

void append_utf8_checked(std::string* out, byte_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t valid = valid_utf8_prefix(text.subspan(i));
    if (valid != 0) out->append(reinterpret_cast<const char*>(text.data() + i), valid);
    i += valid;
    if (i >= text.size()) break;
    size_t bad = 1;
    utf8_sequence(text, i, &bad);
    out->append(replacement);
    i += bad;
  }
}

void append_utf16(std::string* out, byte_view text, bool big_endian) {
  const auto unit = [&](size_t i) { return utf16_unit(text, i, big_endian); };
  size_t i = 0;
  for (; i + 1 < text.size(); i += 2) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < text.size()) {
      const uint32_t v = unit(i + 2);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        append_code_point(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      out->append(replacement);
      continue;
    }
    append_code_point(out, u);
  }
  if (i < text.size()) out->append(replacement);  // an odd trailing byte
}

}  // namespace

size_t valid_utf8_prefix(byte_view text) {
  size_t i = 0;
  while (i < text.size()) {
    // Runs of ASCII, eight bytes at a time.
    while (i + 8 <= text.size()) {
      uint64_t word;
      memcpy(&word, text.data() + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= text.size()) break;
    if (text[i] < 0x80) {
      ++i;
      continue;
    }
    size_t bad = 0;
    const size_t n = utf8_sequence(text, i, &bad);
    if (n == 0) break;
    i += n;
  }
  return i;
}

void append_utf8(std::string* out, byte_view text, text_encoding encoding) {
  switch (encoding) {
    case text_encoding::utf8: append_utf8_checked(out, text); break;
    case text_encoding::utf16le: append_utf16(out, text, false); break;
    case text_encoding::utf16be: append_utf16(out, text, true); break;
  }
}
