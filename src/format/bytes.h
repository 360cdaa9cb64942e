// Big-endian integers from the file's bytes, and bounds-checked reads from a
// view of bytes. Every reader of either mode decodes big-endian values here;
// the bounded forms guarantee that no byte outside a page or file is touched.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "format/varint.h"

using byte_view = std::span<const uint8_t>;

// The big-endian unsigned integer of the n bytes (0 to 8) at p. Unchecked:
// the caller has made sure that all n bytes are readable.
inline uint64_t load_be(const uint8_t* p, uint32_t n) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

// 16- and 32-bit forms of load_be, spelled out for the scan's hot paths.
inline uint32_t load_be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
inline uint32_t load_be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The big-endian two's-complement integer of the n bytes (1 to 8) at p: the
// integer serial types 1 to 6.
inline int64_t load_be_signed(const uint8_t* p, uint32_t n) {
  const uint32_t unused = 64 - 8 * n;
  return static_cast<int64_t>(load_be(p, n) << unused) >> unused;
}

// The big-endian IEEE 754 double at p (serial type 7).
inline double load_be_real(const uint8_t* p) {
  const uint64_t bits = load_be(p, 8);
  double d;
  memcpy(&d, &bits, sizeof d);
  return d;
}

// The big-endian unsigned integer of n bytes (1 to 8) at offset; false when
// any of them lies outside the view.
inline bool read_be(byte_view bytes, uint64_t offset, uint32_t n, uint64_t* value) {
  if (offset > bytes.size() || bytes.size() - offset < n) return false;
  *value = load_be(bytes.data() + offset, n);
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

// The big-endian integer of n bytes (0 to 8) at offset, where the bytes
// outside the view read as 0: a header cut off by the end of its file or
// window.
inline uint64_t be_padded(byte_view bytes, uint64_t offset, uint32_t n) {
  uint64_t v = 0;
  for (uint64_t i = offset; i < offset + n; ++i) v = v << 8 | (i < bytes.size() ? bytes[i] : 0u);
  return v;
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
