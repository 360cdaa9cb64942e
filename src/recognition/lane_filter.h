// The first stage of the fast path: 16 or 32 candidate positions at a time,
// judged from their first bytes by byte comparisons. A position whose lane
// is clear is certainly rejected by decode_row, silently; set lanes go on to
// the full fast test (quick_reject.h) and then to decode_row.
//
// lane_standard and lane_freespace below are the definition, one position
// at a time; the vector code computes exactly the same bits (the tests
// compare them at every position). Every condition is a necessary condition
// of decode_row's acceptance, named after the decoder test it mirrors:
//
// - payload length: a one-byte length must lie within the limits; a two-byte
//   one must be possible within them (and below the overflow threshold when
//   the window's chain walk rejects); longer ones only where long lengths can
//   pass;
// - rowid: a one-byte rowid must not be 0;
// - header size h, read after the rowid (rowids of up to eight bytes after a
//   one-byte length, seven after a two-byte one; longer ones pass): it must
//   not exceed the page size, nor the payload length (the exact-sum rule:
//   the cells can only add to h). A multi-byte h is at least (first byte &
//   0x7F) * 128, and at least 16384 when it takes three bytes or more. A
//   one-byte h also needs cellcount_min + 2 <= h (a header of h bytes holds
//   at most h - 1 serial types);
// - the first serial type (the first three when the header starts within
//   the first seven bytes), as far as the header holds them and up to the
//   first multi-byte one: not 10 or 11, and h plus the smallest data sizes
//   they can have must not exceed the payload length (the cell total never
//   falls). A multi-byte serial type starting with byte s is at least
//   (s & 0x7F) * 128, so its size is at least (s & 0x7F) * 64 - 6; that must
//   not exceed the largest payload length that the first bytes allow.
//
// Sums and lengths are kept in bytes, saturated at 255: a saturated length
// accepts every sum, so saturation can only let a lane pass. A varint byte
// 0x80 may start a long encoding of a small value, so it never rejects.
//
// A three-byte payload length whose first byte is not 0x80 is at least 16384;
// where such lengths may pass, the rowid and header tests apply to it too,
// with the length taken as 255 or more.
//
// The judgements of a header and its serial types come after the overflow
// chain walk in decode_row. They are made for longer payload lengths only
// when that walk cannot print (long_deep), or when the length cannot
// overflow (two-byte lengths whose first byte is at most deep_two_byte_max);
// one-byte lengths never walk the chain (the filter is off for pages too
// small for that).
//
// Free-space mode, with the budget room = freeblock size - 4, and a chain
// walk that does not print: the record starts with its header size h, at
// least cellcount_min + 2 and at most the page size. A multi-byte h is at
// least (first byte & 0x7F) * 128, and at least 16384 when it takes three
// bytes or more. Then the same serial-type test as in standard mode with
// the room as the length (the total may not exceed room - h), over the
// first ten serial types. When the walk rejects, h must not exceed the room
// (room - h would wrap and overflow) and room - h must not overflow either;
// when the walk is silent, an h beyond the room makes the length wrap to
// nearly 2^64, which bounds no total. For a room of 255 or more, h, the
// sizes and the room are compared in units of 2^scale (each rounded down:
// the sum of rounded sizes never exceeds the rounded sum).
#pragma once
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(SARVEK_NO_SIMD)
#include <immintrin.h>
#define SARVEK_LANES_X86 1
// Regions of code compiled for AVX2 or AVX-512 whatever the build's own
// target, in the pragmas of GCC or of Clang.
#if defined(__clang__)
#define SARVEK_TARGET_AVX2_BEGIN \
  _Pragma("clang attribute push (__attribute__((target(\"avx2\"))), apply_to = function)")
#define SARVEK_TARGET_AVX512_BEGIN \
  _Pragma("clang attribute push (__attribute__((target(\"avx2,avx512f,avx512vl,avx512bw\"))), apply_to = function)")
#define SARVEK_TARGET_END _Pragma("clang attribute pop")
#else
#define SARVEK_TARGET_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define SARVEK_TARGET_AVX512_BEGIN \
  _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,avx512f,avx512vl,avx512bw\")")
#define SARVEK_TARGET_END _Pragma("GCC pop_options")
#endif
#else
#define SARVEK_LANES_X86 0
#endif

struct lane_limits {
  bool on;                // false: every lane passes (limits the filter cannot use)
  uint8_t length_min;     // one-byte payload lengths in [length_min, length_max]
  uint8_t length_max;
  uint8_t header_min;     // smallest one-byte header size that holds enough cells
  uint8_t header_hi7;     // multi-byte header sizes: largest (first byte & 0x7F) within the page
  bool header_three_bytes;  // header sizes of three bytes (16384 or more) fit the page
  uint8_t two_byte_lo;    // first bytes of two-byte payload lengths that may pass
  uint8_t two_byte_hi;
  bool long_deep;         // lengths of two or three bytes never reach a chain walk that prints
  uint8_t deep_two_byte_max;  // two-byte lengths whose first byte is at most this never overflow
  bool long_lengths;      // lengths of three or more bytes may pass
};

// The widths of the lane stage's code: 16 lanes with SSE2, 32 with AVX2 or
// with AVX-512.
enum class lane_width : uint8_t { sse2, avx2, avx512 };

struct lane_room {
  bool on;
  uint8_t header_lo;      // one-byte header sizes in [header_lo, header_hi]
  uint8_t header_hi;
  uint8_t wrap_above;     // one-byte header sizes above it exceed the room: no bound on the total
  uint8_t room;           // the budget room in units of 2^scale, capped at 255
  uint8_t scale;          // 0 to 7
  uint8_t multi_max;      // largest (first byte & 0x7F) of a multi-byte serial type within the room
  uint8_t header_hi7;     // multi-byte header sizes: largest (first byte & 0x7F)
  bool header_three_bytes;  // header sizes of three bytes (16384 or more) may pass
};

// The serial types that the free-space lane stage judges after a one-byte
// header size.
inline constexpr unsigned freespace_serials = 10;

namespace lane_detail {

inline bool reserved(uint8_t serial) { return serial == 10 || serial == 11; }

// A lower bound of the data size of a serial type whose varint starts with
// byte s: (s - 12) / 2 from 12 on (exact for one byte, and at most
// (s & 0x7F) * 64 - 6 for more), 0 below 12 and for 0x80.
inline unsigned min_size(uint8_t s) { return s == 0x80 || s < 12 ? 0u : (s - 12u) >> 1; }

inline unsigned add_sat(unsigned a, unsigned b) { return a + b > 255 ? 255 : a + b; }

// The first `count` serial types s[] of a header of one-byte size h: false
// when the decoder's cell loop certainly rejects, for a payload length of
// at most `length` (in units of 2^scale, saturated at 255) whose multi-byte
// serial types have a first byte & 0x7F of at most multi_max.
inline bool serials_fit(unsigned h, const uint8_t* s, unsigned length, unsigned multi_max,
                        unsigned count, unsigned scale = 0) {
  unsigned sum = h >> scale;
  for (unsigned j = 0; j < count; ++j) {
    if (reserved(s[j])) return false;             // serial type 10 or 11
    sum = add_sat(sum, min_size(s[j]) >> scale);
    if (sum > length) return false;               // the cell total exceeds the payload
    if (s[j] >= 0x80) return (s[j] & 0x7Fu) <= multi_max;  // the same, for a long serial type
    if (h <= j + 2) return true;                  // the header's last serial type
  }
  return true;
}

// Lanes whose header size lies beyond this byte pass; up to this one, the
// three first serial types are judged, after it only the first.
inline constexpr unsigned last_header_offset = 9;
inline constexpr unsigned last_deep_header_offset = 6;

inline bool lane_standard(const lane_limits& l, const uint8_t* p) {
  unsigned k;          // the rowid's first byte
  unsigned length;     // the payload length, saturated at 255
  unsigned multi_max;  // see serials_fit
  if (p[0] < 0x80) {
    if (p[0] < l.length_min || p[0] > l.length_max) return false;
    length = p[0];
    multi_max = (p[0] + 6u) >> 6;  // (s & 0x7F) * 64 - 6 <= length
    k = 1;
  } else if (p[1] < 0x80) {
    if (p[0] < l.two_byte_lo || p[0] > l.two_byte_hi) return false;
    length = p[0] == 0x80 ? p[1] : p[0] == 0x81 ? 0x80u | p[1] : 255u;
    // (s & 0x7F) * 64 - 6 <= (p[0] & 0x7F) * 128 + p[1]
    multi_max = add_sat(2u * (p[0] & 0x7Fu), (p[1] + 6u) >> 6);
    k = 2;
  } else if (p[2] < 0x80 && p[0] != 0x80 && l.long_lengths) {
    length = 255;
    multi_max = 255;
    k = 3;
  } else {
    return p[0] == 0x80 || l.long_lengths;
  }
  const bool deep = k == 1 || l.long_deep || (k == 2 && p[0] <= l.deep_two_byte_max);
  // The length is at least length_high * 128 (127: more than any header).
  const unsigned length_high = k == 1 ? 0u : k == 2 ? p[0] & 0x7Fu : 127u;
  if (p[k] == 0) return false;  // rowid 0
  while (p[k] >= 0x80)
    if (++k >= last_header_offset) return true;
  const unsigned header = k + 1;
  const uint8_t h = p[header];
  if (h == 0x80) return true;
  if (h > 0x80) {
    if ((h & 0x7F) > l.header_hi7 || (p[header + 1] >= 0x80 && !l.header_three_bytes)) return false;
    return !deep || (h & 0x7Fu) <= length_high;
  }
  if (!deep) return true;
  if (h < l.header_min || h > length) return false;
  return serials_fit(h, p + header + 1, length, multi_max, header <= last_deep_header_offset ? 3 : 1);
}

inline bool lane_freespace(const lane_room& r, const uint8_t* p) {
  const uint8_t h = p[0];
  if (h >= 0x80) return h == 0x80 || ((h & 0x7Fu) <= r.header_hi7 && (p[1] < 0x80 || r.header_three_bytes));
  if (h < r.header_lo || h > r.header_hi) return false;
  const bool wraps = h > r.wrap_above;
  return serials_fit(h, p + 1, wraps ? 255u : r.room, wraps ? 127u : r.multi_max, freespace_serials, r.scale);
}

}  // namespace lane_detail

#if SARVEK_LANES_X86
// The vector code is written once (lane_vectors.inc) over a few byte-lane
// operations and compiled three times: with SSE2, which every x86-64 has,
// for 16 lanes, and for 32 lanes with AVX2 and with AVX-512 (the same code,
// which the compiler can then fuse into fewer instructions); the scan uses
// the widest that the processor has (lane_width_supported).
namespace lane_sse2 {
using reg = __m128i;
[[gnu::always_inline]] inline reg load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const reg*>(p)); }
[[gnu::always_inline]] inline reg splat(unsigned c) { return _mm_set1_epi8(static_cast<char>(c)); }
[[gnu::always_inline]] inline reg all(bool b) { return _mm_set1_epi8(b ? -1 : 0); }
[[gnu::always_inline]] inline reg and_(reg a, reg b) { return _mm_and_si128(a, b); }
[[gnu::always_inline]] inline reg or_(reg a, reg b) { return _mm_or_si128(a, b); }
[[gnu::always_inline]] inline reg andnot(reg a, reg b) { return _mm_andnot_si128(a, b); }  // ~a & b
[[gnu::always_inline]] inline reg eq(reg a, reg b) { return _mm_cmpeq_epi8(a, b); }
[[gnu::always_inline]] inline reg min_u(reg a, reg b) { return _mm_min_epu8(a, b); }
[[gnu::always_inline]] inline reg adds(reg a, reg b) { return _mm_adds_epu8(a, b); }
[[gnu::always_inline]] inline reg subs(reg a, reg b) { return _mm_subs_epu8(a, b); }
[[gnu::always_inline]] inline reg top(reg a) { return _mm_cmpgt_epi8(_mm_setzero_si128(), a); }
template <int n>
[[gnu::always_inline]] inline reg shift_right(reg a) {
  return _mm_and_si128(_mm_srli_epi16(a, n), _mm_set1_epi8(static_cast<char>(0xFF >> n)));
}
[[gnu::always_inline]] inline reg shift_right_by(reg a, unsigned n) {
  return _mm_and_si128(_mm_srl_epi16(a, _mm_cvtsi32_si128(static_cast<int>(n))),
                       _mm_set1_epi8(static_cast<char>(0xFF >> n)));
}
[[gnu::always_inline]] inline uint32_t bits(reg a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
#include "recognition/lane_vectors.inc"
}  // namespace lane_sse2

SARVEK_TARGET_AVX2_BEGIN
namespace lane_avx2 {
#include "recognition/lane_ops_256.inc"
#include "recognition/lane_vectors.inc"
}  // namespace lane_avx2
SARVEK_TARGET_END

SARVEK_TARGET_AVX512_BEGIN
namespace lane_avx512 {
#include "recognition/lane_ops_256.inc"
#include "recognition/lane_vectors.inc"
}  // namespace lane_avx512
SARVEK_TARGET_END

// Bit i set: position p + i may pass. Reads p[0] to p[25].
[[gnu::always_inline]] inline uint32_t lanes_standard(const lane_limits& l, const uint8_t* p) {
  return l.on ? lane_sse2::lanes_standard(l, p) : 0xFFFFu;
}
// Bit i set: position p + i may pass in free-space mode. Reads p[0] to p[25].
[[gnu::always_inline]] inline uint32_t lanes_freespace(const lane_room& r, const uint8_t* p) {
  return r.on ? lane_sse2::lanes_freespace(r, p) : 0xFFFFu;
}
inline lane_width lane_width_supported() {
  if (__builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw")) return lane_width::avx512;
  return __builtin_cpu_supports("avx2") ? lane_width::avx2 : lane_width::sse2;
}
#else
// Elsewhere, lane by lane.
inline uint32_t lanes_standard(const lane_limits& l, const uint8_t* p) {
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i) mask |= uint32_t{!l.on || lane_detail::lane_standard(l, p + i)} << i;
  return mask;
}
inline uint32_t lanes_freespace(const lane_room& r, const uint8_t* p) {
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i) mask |= uint32_t{!r.on || lane_detail::lane_freespace(r, p + i)} << i;
  return mask;
}
inline lane_width lane_width_supported() { return lane_width::sse2; }
#endif

// The same for 32 positions, with the code of a width that the processor
// has (lane_width_supported; sse2 runs the 16 lanes twice). Read p[0] to
// p[41].
uint32_t lanes_standard_wide(const lane_limits& l, const uint8_t* p, lane_width width);
uint32_t lanes_freespace_wide(const lane_room& r, const uint8_t* p, lane_width width);
