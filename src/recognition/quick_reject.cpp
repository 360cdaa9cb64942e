#include "recognition/quick_reject.h"

#include <algorithm>
#include <cstring>

#include "recognition/decode_row.h"
#include "recognition/row_record.h"

namespace {

// The pages whose next-page number can be read (overflow_link_readable).
uint64_t readable_pages(const globals* g) {
  return g->db_size >= 5 ? (g->db_size - 5) / g->page_size + 1 : 0;
}

// Follows the free-space window's overflow chain, whose first page number
// is the window's last four bytes, as decode_row does, without output, to
// learn how the walk of every candidate ends.
chain_outcome walk_outcome(const globals* g, const uint8_t* page_end) {
  uint32_t first;
  if (!first_overflow_page(g, page_end, &first) || first > g->page_count)
    return chain_outcome::rejects;
  uint32_t k = 1;
  for (uint32_t current = first; current != 0; ++k) {
    if (!image_next_overflow_page(g, page_offset(current, g->page_size), &current)) break;
    if (k + 1 > overflow_chain_limit) return chain_outcome::prints;
  }
  return chain_outcome::silent;
}

// The standard-mode window's walks under the format's rule: a candidate's
// page number lies after its varints (3 bytes at least, since its payload
// length exceeds 127) and at least M local bytes, and within the window.
// Every number at such a place that exceeds the page count rejects the
// candidate; 0, or a page whose next-page number lies outside the file,
// ends the walk silently; any other page would have to be followed, and
// its chain may end in the error line, so the window counts as printing
// (its walks are left to decode_row rather than followed here: following
// them touched a page of the file far ahead for every number). Sets the
// worst outcome and chain_end: candidates from there on can only find
// numbers beyond the last place whose number is within the page count, so
// every overflowing one is rejected. A number within the page count whose
// top byte is set needs a page count of 2^24 or more, so below that only
// the places of zero bytes are looked at.
void format_outcome(const globals* g, const uint8_t* page_end, const local_rule& rule, quick_limits* q) {
  const uint64_t into_page = static_cast<uint64_t>(page_end - g->db_origin - 1) % g->page_size + 1;
  const uint64_t first_place = 3 + rule.min_local;
  q->standard_chain = chain_outcome::rejects;
  q->chain_end = page_end - into_page;
  if (into_page < first_place + 4) return;
  const uint8_t* p = page_end - into_page + first_place;
  const uint8_t* last = page_end - 4;
  const uint64_t followed = std::min<uint64_t>(g->page_count, readable_pages(g));
  const uint8_t* last_valid = nullptr;  // the last place whose number is within the page count
  const auto note = [&](const uint8_t* place) {
    if (!last_valid || place > last_valid) last_valid = place;
  };
  bool prints = false;
  const auto judge = [&](const uint8_t* place) {
    const uint32_t first = load_be32(place);
    if (first > g->page_count) return;
    note(place);
    if (first != 0 && first <= followed) prints = true;
  };
  if (g->page_count >= (1u << 24)) note(last);  // any place may hold a number within it
  if (followed >= (1u << 24)) {
    for (; p <= last; ++p) judge(p);
  } else {
    while (p <= last) {
      p = static_cast<const uint8_t*>(memchr(p, 0, static_cast<size_t>(last - p + 1)));
      if (!p) break;
      if (load_be32(p) == 0) {
        // A run of zero bytes: every place up to 4 bytes before its end
        // reads 0 (no chain); the three after that read small numbers.
        const uint8_t* end = p + 4;
        uint64_t word;
        while (page_end - end >= 8 && (memcpy(&word, end, 8), word == 0)) end += 8;
        while (end < page_end && *end == 0) ++end;
        note(end - 4);
        p = end - 3;
        continue;
      }
      judge(p);
      ++p;
    }
  }
  if (!last_valid) return;
  q->standard_chain = prints ? chain_outcome::prints : chain_outcome::silent;
  q->chain_end = last_valid - first_place + 1;
}

uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The first-stage limits of standard mode (see lane_filter.h), for a chain
// walk that ends as `chain` for the candidates they judge.
lane_limits standard_lanes(const quick_limits& q, chain_outcome chain) {
  lane_limits l{};
  l.on = q.short_rows;
  l.length_min = clamp_byte(q.payload_min > 128 ? 128 : static_cast<int64_t>(q.payload_min));
  l.length_max = static_cast<uint8_t>(q.payload_max < 127 ? q.payload_max : 127);
  l.header_min = q.header_min;
  // Two-byte lengths: first byte 0x80 + hi gives lengths hi * 128 .. hi * 128 + 127.
  const uint64_t reach = chain == chain_outcome::rejects && q.standard_threshold < q.payload_max
                             ? q.standard_threshold
                             : q.payload_max;
  const uint64_t hi_max = reach >> 7 < 127 ? reach >> 7 : 127;
  // The smallest hi whose lengths reach payload_min.
  const uint64_t hi_min = q.payload_min >> 7;
  if (hi_min <= hi_max) {
    l.two_byte_lo = static_cast<uint8_t>(0x80 + hi_min);
    l.two_byte_hi = static_cast<uint8_t>(0x80 + hi_max);
  } else {
    l.two_byte_lo = 0xFF, l.two_byte_hi = 0;  // none
  }
  l.long_lengths =
      !(q.payload_max < 16384 || (q.standard_threshold < 16384 && chain == chain_outcome::rejects));
  l.long_deep = chain != chain_outcome::prints;
  // Two-byte lengths with first byte 0x80 + hi are at most hi * 128 + 127.
  const uint64_t x = q.standard_threshold;
  l.deep_two_byte_max =
      static_cast<uint8_t>(x < 127 ? 0x7F : 0x80 + std::min<uint64_t>(127, (x - 127) / 128));
  l.header_hi7 = static_cast<uint8_t>(q.page_size >> 7 < 127 ? q.page_size >> 7 : 127);
  l.header_three_bytes = q.page_size >= 16384;
  return l;
}

}  // namespace

lane_room lane_room_for(const quick_limits& q, uint64_t room) {
  lane_room r{};
  // A walk that prints makes every wrapped and overflowing length go on.
  r.on = q.chain != chain_outcome::prints;
  const bool rejects = q.chain == chain_outcome::rejects;
  // Header sizes up to `most` pass the size tests: the page size, and the
  // room when a wrapped length rejects.
  const uint64_t most = rejects ? std::min(room, q.page_size) : q.page_size;
  const uint64_t overflow_from = rejects && room > q.overflow_threshold ? room - q.overflow_threshold : 0;
  r.header_lo = clamp_byte(static_cast<int64_t>(std::max<uint64_t>(overflow_from, q.header_min)));
  r.header_hi = static_cast<uint8_t>(std::min<uint64_t>(most, 127));
  r.wrap_above = static_cast<uint8_t>(std::min<uint64_t>(room, 127));
  // The room in units of 2^scale below 255; beyond 2^7 units it stays
  // saturated (every total passes).
  while (r.scale < 7 && room >> r.scale > 254) ++r.scale;
  r.room = clamp_byte(static_cast<int64_t>(std::min<uint64_t>(room >> r.scale, 255)));
  r.multi_max = static_cast<uint8_t>((room + 6) >> 6 < 127 ? (room + 6) >> 6 : 127);
  r.header_hi7 = static_cast<uint8_t>(std::min<uint64_t>(most >> 7, 127));
  r.header_three_bytes = most >= 16384;
  return r;
}

void quick_limits_init(quick_limits* q, const globals* g, const uint8_t* page_end,
                       uint32_t cell_capacity, int32_t mode) {
  const uint8_t* image_end = g->db_end + 1;
  q->payload_min = g->opt.rowsize_min;
  q->payload_max = g->opt.rowsize_max < g->db_size ? g->opt.rowsize_max : g->db_size;
  q->page_size = g->page_size;
  const local_rule freespace_rule = freespace_local_rule(g);
  q->overflow_threshold = freespace_rule.threshold;
  // A window of the other mode only gets limits that reject less.
  q->chain = mode != mode_standard ? walk_outcome(g, page_end) : chain_outcome::prints;
  q->standard_rule = standard_local_rule(g);
  q->standard_threshold = q->standard_rule.threshold;
  if (mode == mode_freespace) {
    q->standard_chain = chain_outcome::prints;
    q->chain_end = page_end;
  } else if (q->standard_rule.format) {
    format_outcome(g, page_end, q->standard_rule, q);
  } else {
    q->standard_chain = q->chain = walk_outcome(g, page_end);
    q->chain_end = page_end;
  }
  q->page_end = page_end;
  q->page_count = g->page_count;
  q->short_rows = q->standard_threshold >= 127 && q->page_size >= 127;
  q->long_lengths_reject = q->payload_max < 16384 || (q->standard_threshold < 16384 &&
                                                      q->standard_chain == chain_outcome::rejects);
  q->cellcount_min = g->opt.cellcount_min;
  q->header_min = clamp_byte(std::max<int64_t>(2, int64_t{g->opt.cellcount_min} + 2));
  const int64_t last_slot = static_cast<int64_t>(cell_capacity) - 1;
  q->max_cell_index = static_cast<int32_t>(g->opt.cellcount_max < last_slot ? g->opt.cellcount_max : last_slot);
  q->lanes = standard_lanes(*q, q->standard_chain);
  q->lanes_tail = standard_lanes(*q, chain_outcome::rejects);
  q->image_end = image_end;
  q->safe_end = g->db_size > 64 ? image_end - 64 : g->db_origin;
  static const lane_width width = lane_width_supported();
  q->width = width;
}

#if SARVEK_LANES_X86
// The skipping loops, compiled for each 32-lane width.
SARVEK_TARGET_AVX2_BEGIN
namespace skip_avx2 {
namespace lanes = lane_avx2;
#include "recognition/skip_loops.inc"
}  // namespace skip_avx2
SARVEK_TARGET_END

SARVEK_TARGET_AVX512_BEGIN
namespace skip_avx512 {
namespace lanes = lane_avx512;
#include "recognition/skip_loops.inc"
}  // namespace skip_avx512
SARVEK_TARGET_END

const uint8_t* skip_standard_wide(const quick_limits& q, const uint8_t* pos, const uint8_t* fast_stop,
                                  bool* found) {
  return q.width == lane_width::avx512 ? skip_avx512::skip_standard(q, pos, fast_stop, found)
                                       : skip_avx2::skip_standard(q, pos, fast_stop, found);
}

const uint8_t* skip_freespace_wide(const quick_limits& q, const lane_room& lanes, uint64_t room,
                                   const uint8_t* pos, const uint8_t* fast_stop, bool* found) {
  return q.width == lane_width::avx512
             ? skip_avx512::skip_freespace(q, lanes, room, pos, fast_stop, found)
             : skip_avx2::skip_freespace(q, lanes, room, pos, fast_stop, found);
}

namespace {

const uint8_t* mark_standard_wide(const quick_limits& q, const uint8_t* pos, const uint8_t* fast_stop,
                                  const uint8_t* base, uint64_t* bits) {
  if (q.width == lane_width::sse2) return pos;
  return q.width == lane_width::avx512 ? skip_avx512::mark_standard(q, pos, fast_stop, base, bits)
                                       : skip_avx2::mark_standard(q, pos, fast_stop, base, bits);
}

const uint8_t* mark_freespace_wide(const quick_limits& q, const lane_room& lanes, uint64_t room,
                                   const uint8_t* pos, const uint8_t* fast_stop, const uint8_t* base,
                                   uint64_t* bits) {
  if (q.width == lane_width::sse2) return pos;
  return q.width == lane_width::avx512
             ? skip_avx512::mark_freespace(q, lanes, room, pos, fast_stop, base, bits)
             : skip_avx2::mark_freespace(q, lanes, room, pos, fast_stop, base, bits);
}

}  // namespace

uint32_t lanes_standard_wide(const lane_limits& l, const uint8_t* p, lane_width width) {
  if (!l.on) return 0xFFFFFFFFu;
  if (width == lane_width::avx512) return skip_avx512::standard(l, p);
  if (width == lane_width::avx2) return skip_avx2::standard(l, p);
  return lanes_standard(l, p) | lanes_standard(l, p + 16) << 16;
}

uint32_t lanes_freespace_wide(const lane_room& r, const uint8_t* p, lane_width width) {
  if (!r.on) return 0xFFFFFFFFu;
  if (width == lane_width::avx512) return skip_avx512::freespace(r, p);
  if (width == lane_width::avx2) return skip_avx2::freespace(r, p);
  return lanes_freespace(r, p) | lanes_freespace(r, p + 16) << 16;
}
#else
namespace {
const uint8_t* mark_standard_wide(const quick_limits&, const uint8_t* pos, const uint8_t*, const uint8_t*,
                                  uint64_t*) {
  return pos;
}
const uint8_t* mark_freespace_wide(const quick_limits&, const lane_room&, uint64_t, const uint8_t* pos,
                                   const uint8_t*, const uint8_t*, uint64_t*) {
  return pos;
}
}  // namespace
const uint8_t* skip_standard_wide(const quick_limits&, const uint8_t* pos, const uint8_t*, bool*) {
  return pos;
}
const uint8_t* skip_freespace_wide(const quick_limits&, const lane_room&, uint64_t, const uint8_t* pos,
                                   const uint8_t*, bool*) {
  return pos;
}
uint32_t lanes_standard_wide(const lane_limits& l, const uint8_t* p, lane_width) {
  return lanes_standard(l, p) | lanes_standard(l, p + 16) << 16;
}
uint32_t lanes_freespace_wide(const lane_room& r, const uint8_t* p, lane_width) {
  return lanes_freespace(r, p) | lanes_freespace(r, p + 16) << 16;
}
#endif

void mark_survivors(const quick_limits& q, const uint8_t* pos, const uint8_t* stop, int32_t mode,
                    uint32_t budget, const uint8_t* base, uint64_t* bits) {
  const auto mark = [&](const uint8_t* candidate) {
    const uint64_t at = static_cast<uint64_t>(candidate - base);
    bits[at / 64] |= uint64_t{1} << (at % 64);
  };
  if (pos >= stop || (mode == 1 && !quick_budget_ok(q, budget))) return;
  const uint8_t* fast_stop = stop < q.safe_end ? stop : q.safe_end;
  if (mode == 1) {
    const uint64_t room = budget - 4u;
    const lane_room lanes = lane_room_for(q, room);
    pos = mark_freespace_wide(q, lanes, room, pos, fast_stop, base, bits);
    for (; fast_stop - pos >= 16; pos += 16)
      for (uint32_t m = lanes_freespace(lanes, pos); m != 0; m &= m - 1)
        if (!quick_reject_freespace(q, pos + __builtin_ctz(m), room)) mark(pos + __builtin_ctz(m));
  } else {
    pos = mark_standard_wide(q, pos, fast_stop, base, bits);
    for (; fast_stop - pos >= 16; pos += 16)
      for (uint32_t m = lanes_standard(standard_lanes_at(q, pos), pos); m != 0; m &= m - 1)
        if (!quick_reject_standard(q, pos + __builtin_ctz(m))) mark(pos + __builtin_ctz(m));
  }
  // The last positions, and those too near the image's end for the tests.
  for (; pos < stop; ++pos)
    if (!quick_rejects(q, pos, mode, budget)) mark(pos);
}
