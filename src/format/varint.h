// SQLite 3 variable-length integers.
#pragma once
#include <cstdint>

// Decodes the varint at position; returns its length (1 to 9). When next_out
// is given it receives position + length. Reads up to 9 bytes unchecked.
int32_t decode_varint(uint64_t* value_out, const uint8_t* position,
                      const uint8_t** next_out);

// As decode_varint, but reads no byte at or after end: returns 0 (and leaves
// the outputs untouched) when the varint does not end before end.
int32_t decode_varint_within(uint64_t* value_out, const uint8_t* position,
                             const uint8_t* end, const uint8_t** next_out);

// The number of bytes of the varint encoding of v (1 to 9).
inline uint32_t varint_length(uint64_t v) {
  if (v > 0x00FFFFFFFFFFFFFFull) return 9;
  uint32_t n = 1;
  while (v > 0x7F) {
    v >>= 7;
    ++n;
  }
  return n;
}

// Writes the varint of v at out (room for 9 bytes); returns its length.
inline uint32_t write_varint(uint64_t v, uint8_t* out) {
  const uint32_t n = varint_length(v);
  if (n == 9) {
    out[8] = static_cast<uint8_t>(v);
    v >>= 8;
    for (int i = 7; i >= 0; --i, v >>= 7) out[i] = static_cast<uint8_t>((v & 0x7F) | 0x80);
    return 9;
  }
  for (int i = static_cast<int>(n) - 1; i >= 0; --i, v >>= 7)
    out[i] = static_cast<uint8_t>((v & 0x7F) | (i + 1 < static_cast<int>(n) ? 0x80 : 0));
  return n;
}
