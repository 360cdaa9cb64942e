// Bounds-checked reads from a view of bytes: big-endian integers and varints.
// Every reader of the deep mode goes through these, so that no byte outside
// its page or file is ever touched.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "recognition/varint.h"

using byte_view = std::span<const uint8_t>;

// The big-endian unsigned integer of n bytes (1 to 8) at offset; false when
// any of them lies outside the view.
inline bool read_be(byte_view bytes, uint64_t offset, uint32_t n, uint64_t* value) {
  if (offset > bytes.size() || bytes.size() - offset < n) return false;
  uint64_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = v << 8 | bytes[offset + i];
  *value = v;
  return true;
}

// 16- and 32-bit big-endian values; 0 when they lie outside the view.
inline uint32_t be16_or_zero(byte_view bytes, uint64_t offset) {
  uint64_t v = 0;
  return read_be(bytes, offset, 2, &v) ? static_cast<uint32_t>(v) : 0u;
}
inline uint32_t be32_or_zero(byte_view bytes, uint64_t offset) {
  uint64_t v = 0;
  return read_be(bytes, offset, 4, &v) ? static_cast<uint32_t>(v) : 0u;
}

// The varint at *offset; moves *offset past it. False (offset unchanged)
// when it does not end inside the view.
inline bool read_varint(byte_view bytes, uint64_t* offset, uint64_t* value) {
  if (*offset >= bytes.size()) return false;
  if (bytes[*offset] < 0x80) {  // one byte: the common case
    *value = bytes[*offset];
    *offset += 1;
    return true;
  }
  const uint8_t* start = bytes.data() + *offset;
  const uint8_t* next = nullptr;
  if (decode_varint_within(value, start, bytes.data() + bytes.size(), &next) == 0) return false;
  *offset += static_cast<uint64_t>(next - start);
  return true;
}

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
