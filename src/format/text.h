// Texts of the database's encoding, decoded to UTF-8.
#pragma once
#include <string>

#include "format/bytes.h"
#include "format/db_header.h"

// The UTF-16 code unit at byte i of text (i + 1 inside it).
inline uint32_t utf16_unit(byte_view text, size_t i, bool big_endian) {
  return big_endian ? load_be16(&text[i]) : uint32_t{text[i + 1]} << 8 | text[i];
}

// Appends the text to out as UTF-8. A sequence that is not valid in the
// encoding becomes U+FFFD (one per maximal invalid sequence in UTF-8, one
// per unpaired surrogate or odd trailing byte in UTF-16).
void append_utf8(std::string* out, byte_view text, text_encoding encoding);

// The length of the longest prefix of UTF-8 text that is valid UTF-8.
size_t valid_utf8_prefix(byte_view text);
