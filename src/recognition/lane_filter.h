// The first stage of the fast path: 16 candidate positions at a time, judged
// from their first five bytes by byte comparisons. A position whose lane is
// clear is certainly rejected by decode_row; set lanes go on to the full
// fast test (quick_reject.h) and then to decode_row.
//
// Standard mode, one-byte payload length P (< 128): the rowid must not be
// 0; a one-byte header size h needs cellcount_min + 2 <= h <= P (a header
// of h bytes holds at most h - 1 serial types, and the cells can only add
// to h); with a one-byte rowid the first one or two one-byte serial types
// must leave h + sizes <= P (the cell total never falls), up to three of
// them; with a rowid of two to four bytes the header size that follows must
// fit the same way, and after a two-byte rowid its first serial type too. A two-byte
// payload length is possible only if it can lie within the limits (and
// below the overflow threshold when the window's chain walk rejects);
// longer ones only where long lengths can pass. Free-space mode, with the
// budget room = freeblock size - 4 and a chain walk that rejects: a one-byte
// header size h needs cellcount_min + 2 <= h <= room, no overflow of
// room - h, and a first serial type that fits. A varint byte 0x80 may start
// a long encoding of a small value, so such lanes always pass.
#pragma once
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

struct lane_limits {
  bool on;                // false: every lane passes (limits the filter cannot use)
  uint8_t length_min;     // one-byte payload lengths in [length_min, length_max]
  uint8_t length_max;
  uint8_t header_min;     // smallest one-byte header size that holds enough cells
  uint8_t two_byte_lo;    // first bytes of two-byte payload lengths that may pass
  uint8_t two_byte_hi;
  bool long_lengths;      // lengths of three or more bytes may pass
};

struct lane_room {
  bool on;
  uint8_t header_lo;      // one-byte header sizes in [header_lo, header_hi]
  uint8_t header_hi;
  uint8_t room;           // the budget room, capped at 255
  bool long_headers;      // multi-byte header sizes may pass
};

namespace lane_detail {

inline unsigned low_size(uint8_t serial) { return serial >= 12 ? (serial - 12u) >> 1 : 0u; }
inline bool reserved(uint8_t serial) { return serial == 10 || serial == 11; }

inline bool lane_standard(const lane_limits& l, const uint8_t* p) {
  const uint8_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3], b4 = p[4], b5 = p[5];
  if (b0 >= 0x80) {
    if (b1 < 0x80) return b0 >= l.two_byte_lo && b0 <= l.two_byte_hi && b2 != 0;
    return b0 == 0x80 || l.long_lengths;
  }
  if (b0 < l.length_min || b0 > l.length_max || b1 == 0) return false;
  if (b1 < 0x80) {  // one-byte rowid, header size at b2
    if (b2 == 0x80) return true;
    if (b2 < l.header_min || b2 > b0) return false;
    if (b3 >= 0x80) return true;
    const unsigned first = b2 + low_size(b3);
    if (reserved(b3) || first > b0) return false;
    if (b2 < 3 || b4 >= 0x80) return true;
    const unsigned second = first + low_size(b4);
    if (reserved(b4) || second > b0) return false;
    if (b2 < 4 || b5 >= 0x80) return true;
    return !reserved(b5) && second + low_size(b5) <= b0;
  }
  if (b2 < 0x80) {  // two-byte rowid, header size at b3
    if (b3 == 0x80) return true;
    if (b3 < l.header_min || b3 > b0) return false;
    return b4 >= 0x80 || (!reserved(b4) && b3 + low_size(b4) <= b0);
  }
  if (b3 < 0x80) return b4 == 0x80 || (b4 >= l.header_min && b4 <= b0);  // three-byte rowid
  if (b4 < 0x80) return b5 == 0x80 || (b5 >= l.header_min && b5 <= b0);  // four-byte rowid
  return true;
}

inline bool lane_freespace(const lane_room& r, const uint8_t* p) {
  const uint8_t b0 = p[0], b1 = p[1];
  if (b0 >= 0x80) return b0 == 0x80 || r.long_headers;
  if (b0 < r.header_lo || b0 > r.header_hi) return false;
  if (b1 >= 0x80) return true;
  return !reserved(b1) && b0 + low_size(b1) <= r.room;
}

#if defined(__SSE2__)
inline __m128i le(__m128i a, __m128i b) { return _mm_cmpeq_epi8(_mm_min_epu8(a, b), a); }
inline __m128i top(__m128i a) { return _mm_cmplt_epi8(a, _mm_setzero_si128()); }
inline __m128i is(__m128i a, uint8_t v) { return _mm_cmpeq_epi8(a, _mm_set1_epi8(static_cast<char>(v))); }
inline __m128i low_sizes(__m128i a) {
  return _mm_and_si128(_mm_srli_epi16(_mm_subs_epu8(a, _mm_set1_epi8(12)), 1), _mm_set1_epi8(0x7F));
}
inline __m128i reserved_lanes(__m128i a) { return _mm_or_si128(is(a, 10), is(a, 11)); }
inline __m128i splat(uint8_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

}  // namespace lane_detail

// Bit i set: position p + i may pass. Reads p[0] to p[20].
[[gnu::always_inline]] inline uint32_t lanes_standard(const lane_limits& l, const uint8_t* p) {
  if (!l.on) return 0xFFFF;
#if defined(__SSE2__)
  using namespace lane_detail;
  const __m128i v0 = load(p), v1 = load(p + 1), v2 = load(p + 2), v3 = load(p + 3),
                v4 = load(p + 4), v5 = load(p + 5);
  const __m128i ones = _mm_set1_epi8(-1);
  const __m128i t1 = top(v1), t2 = top(v2), t3 = top(v3), t4 = top(v4);
  // Two or more payload-length bytes.
  const __m128i two = _mm_andnot_si128(
      t1, _mm_and_si128(_mm_and_si128(le(splat(l.two_byte_lo), v0), le(v0, splat(l.two_byte_hi))),
                        _mm_xor_si128(is(v2, 0), ones)));
  const __m128i longer = _mm_and_si128(_mm_and_si128(t1, top(v0)),
                                       l.long_lengths ? ones : is(v0, 0x80));
  // One payload-length byte.
  const __m128i length = _mm_andnot_si128(
      is(v1, 0), _mm_and_si128(le(splat(l.length_min), v0), le(v0, splat(l.length_max))));
  const __m128i first = _mm_adds_epu8(v2, low_sizes(v3));
  const __m128i second = _mm_adds_epu8(first, low_sizes(v4));
  const __m128i third = _mm_adds_epu8(second, low_sizes(v5));
  const __m128i third_ok = _mm_or_si128(_mm_or_si128(le(v2, splat(3)), top(v5)),
                                        _mm_andnot_si128(reserved_lanes(v5), le(third, v0)));
  const __m128i second_ok =
      _mm_or_si128(_mm_or_si128(le(v2, splat(2)), t4),
                   _mm_andnot_si128(reserved_lanes(v4), _mm_and_si128(le(second, v0), third_ok)));
  const __m128i serials_ok =
      _mm_or_si128(t3, _mm_andnot_si128(reserved_lanes(v3), _mm_and_si128(le(first, v0), second_ok)));
  const __m128i header2 = _mm_and_si128(le(splat(l.header_min), v2), le(v2, v0));
  const __m128i rowid1 = _mm_andnot_si128(t1, _mm_or_si128(is(v2, 0x80), _mm_and_si128(header2, serials_ok)));
  const __m128i serial4_ok = _mm_or_si128(
      t4, _mm_andnot_si128(reserved_lanes(v4), le(_mm_adds_epu8(v3, low_sizes(v4)), v0)));
  const __m128i header3 = _mm_or_si128(
      is(v3, 0x80),
      _mm_and_si128(_mm_and_si128(le(splat(l.header_min), v3), le(v3, v0)), serial4_ok));
  const __m128i rowid2 = _mm_and_si128(_mm_andnot_si128(t2, t1), header3);
  const __m128i header4 =
      _mm_or_si128(is(v4, 0x80), _mm_and_si128(le(splat(l.header_min), v4), le(v4, v0)));
  const __m128i header5 =
      _mm_or_si128(is(v5, 0x80), _mm_and_si128(le(splat(l.header_min), v5), le(v5, v0)));
  const __m128i rowid3 = _mm_and_si128(
      _mm_and_si128(t1, t2),
      _mm_or_si128(_mm_andnot_si128(t3, header4), _mm_and_si128(t3, _mm_or_si128(t4, header5))));
  const __m128i one = _mm_and_si128(length, _mm_or_si128(_mm_or_si128(rowid1, rowid2), rowid3));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(two, longer), one)));
#else
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i) mask |= uint32_t{lane_detail::lane_standard(l, p + i)} << i;
  return mask;
#endif
}

// Bit i set: position p + i may pass in free-space mode. Reads p[0] to p[16].
[[gnu::always_inline]] inline uint32_t lanes_freespace(const lane_room& r, const uint8_t* p) {
  if (!r.on) return 0xFFFF;
#if defined(__SSE2__)
  using namespace lane_detail;
  const __m128i v0 = load(p), v1 = load(p + 1);
  const __m128i t0 = top(v0);
  const __m128i longer = _mm_and_si128(t0, r.long_headers ? _mm_set1_epi8(-1) : is(v0, 0x80));
  const __m128i header = _mm_and_si128(le(splat(r.header_lo), v0), le(v0, splat(r.header_hi)));
  const __m128i serial_ok = _mm_or_si128(
      top(v1), _mm_andnot_si128(reserved_lanes(v1), le(_mm_adds_epu8(v0, low_sizes(v1)), splat(r.room))));
  const __m128i one = _mm_andnot_si128(t0, _mm_and_si128(header, serial_ok));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(longer, one)));
#else
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i) mask |= uint32_t{lane_detail::lane_freespace(r, p + i)} << i;
  return mask;
#endif
}
