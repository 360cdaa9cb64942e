// The scanner's fast path: a cheap test that proves decode_row would reject
// a candidate without writing anything. It never says "reject" for a
// candidate that decode_row could accept or that would make decode_row
// print (the overflow walk's error line), so the scan's output is the same
// with or without it. Candidates it cannot settle cheaply (bytes near the
// end of the image, cell totals near 2^32, chains that end in the error)
// are left to decode_row.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "recognition/lane_filter.h"
#include "recognition/row_record.h"
#include "setup/globals.h"

// What the overflow chain walk does for the candidates of one window, the
// worst of them. In free-space mode the chain's first page number comes
// from the window's last four bytes, so the walk is the same for all of
// them; in standard mode each candidate's number follows its local part.
enum class chain_outcome : uint8_t {
  rejects,   // the number cannot be read or exceeds the page count
  silent,    // the walk ends without output; decoding goes on
  prints,    // the walk ends in the "No more space" error line
};

struct quick_limits {
  uint64_t payload_min;         // rowsize_min
  uint64_t payload_max;         // the smaller of rowsize_max and db_size
  uint64_t page_size;
  uint64_t overflow_threshold;  // free-space mode: payload lengths above it walk the chain
  chain_outcome chain;          // free-space mode: how that walk ends
  local_rule standard_rule;     // standard mode: where an overflowing row's page number lies
  uint64_t standard_threshold;  // standard mode: payload lengths above it walk the chain
  chain_outcome standard_chain; // standard mode: how the walks can end, the worst of them
  const uint8_t* chain_end;     // standard mode: from here on every overflowing candidate rejects
  const uint8_t* page_end;      // one past the window
  uint32_t page_count;
  bool short_rows;              // one-byte lengths and headers need no chain
  bool long_lengths_reject;     // every payload length of 2^14 or more rejects
  int32_t cellcount_min;
  int32_t max_cell_index;       // the smaller of cellcount_max and the table's last slot
  const uint8_t* image_end;     // one past the image
  const uint8_t* safe_end;      // positions before it have 64 readable bytes
  lane_limits lanes;            // the lane stage in standard mode, before chain_end
  lane_limits lanes_tail;       // the same from chain_end on
  uint8_t header_min;           // smallest one-byte header size with enough cells
  lane_width width;             // the lane stage's code (the widest the processor has)
};

// Sets the limits for a window of the scan that ends at page_end, searched
// in `mode` (mode_standard or mode_freespace), or in both when it is -1.
// The limits of the other mode are then left at values that reject less.
void quick_limits_init(quick_limits* q, const globals* g, const uint8_t* page_end,
                       uint32_t cell_capacity, int32_t mode = -1);

namespace quick_detail {

// Data sizes of the one-byte serial types; reserved_size marks 10 and 11.
inline constexpr uint32_t reserved_size = 0xFFFFFFFFu;
struct serial_table {
  uint32_t size[128];
  constexpr serial_table() : size() {
    for (uint32_t s = 0; s < 128; ++s)
      size[s] = serial_reserved(s) ? reserved_size : static_cast<uint32_t>(serial_size(s));
  }
};
inline constexpr serial_table serials;

// The byte count of a varint known to lie in readable memory, and whether
// its value is 0, without a loop: the first byte with its top bit clear
// ends it. Returns 0 for a nine-byte varint (left to read_varint).
[[gnu::always_inline]] inline int varint_length(const uint8_t* p, bool* zero) {
  if constexpr (std::endian::native != std::endian::little) {
    return 0;
  } else {
    uint64_t word;
    memcpy(&word, p, sizeof word);
    const uint64_t stops = ~word & 0x8080808080808080u;
    if (stops == 0) return 0;
    const int length = (__builtin_ctzll(stops) >> 3) + 1;
    const uint64_t bytes = length == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * length)) - 1;
    *zero = (word & bytes & 0x7F7F7F7F7F7F7F7Fu) == 0;
    return length;
  }
}

// Reads a varint known to lie in readable memory; returns its byte count.
[[gnu::always_inline]] inline int read_varint(const uint8_t* p, uint64_t* value) {
  if (p[0] < 0x80) {
    *value = p[0];
    return 1;
  }
  if (p[1] < 0x80) {
    *value = uint64_t{p[0] & 0x7Fu} << 7 | p[1];
    return 2;
  }
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) {
    v = v << 7 | (p[i] & 0x7Fu);
    if (!(p[i] & 0x80u)) {
      *value = v;
      return i + 1;
    }
  }
  *value = v << 8 | p[8];
  return 9;
}

// The record header of h bytes that starts at header, its serial types at
// p: true when decode_row certainly rejects. decode_row adds the cell sizes
// in 64 bits and the total never falls, so under the exact-sum rule a total
// beyond payload - h already settles it.
[[gnu::always_inline]] inline bool header_rejects(const quick_limits& q, const uint8_t* header,
                                                  const uint8_t* p, uint64_t h, uint64_t payload,
                                                  bool exact_sum) {
  if (h < 2) return true;
  if (exact_sum && h > payload) return true;
  if (h + 9 > static_cast<uint64_t>(q.image_end - header)) return false;
  const uint8_t* end = header + h;
  const uint64_t limit = exact_sum ? payload - h : payload;
  uint64_t total = 0;
  int32_t i = 0;
  for (;;) {
    uint64_t size;
    if (*p < 0x80) {
      size = serials.size[*p++];
      if (size == reserved_size) return true;
    } else {
      uint64_t serial;
      const int length = read_varint(p, &serial);
      if (length > 8) return true;
      p += length;
      // Long encodings of small values exist too (0x80 0x0A is type 10).
      if (serial < 128) {
        size = serials.size[serial];
        if (size == reserved_size) return true;
      } else {
        size = serial_size(serial);
      }
    }
    if (size > limit - total) return true;
    total += size;
    if (p >= end) break;
    if (++i > q.max_cell_index) return true;
  }
  if (i < q.cellcount_min) return true;
  return exact_sum && total != limit;
}

}  // namespace quick_detail

// Standard mode: true when decode_row(position, mode 0) certainly rejects.
// The position must lie before safe_end.
[[gnu::always_inline]] inline bool quick_reject_standard(const quick_limits& q,
                                                        const uint8_t* position) {
  // The common case first: one-byte payload length, rowid and header size.
  const uint8_t b0 = position[0], b1 = position[1], b2 = position[2];
  if (q.short_rows && (b0 | b1 | b2) < 0x80) {
    if (b0 < q.lanes.length_min || b0 > q.lanes.length_max || b1 == 0 || b2 < 2 || b2 > b0)
      return true;
    return quick_detail::header_rejects(q, position + 2, position + 3, b2, b0, true);
  }
  // A payload-length varint of three or more bytes whose first byte carries
  // a bit is at least 2^14; such lengths end in the chain walk or a limit.
  if (b0 > 0x80 && b1 >= 0x80 && q.long_lengths_reject) return true;
  uint64_t payload, rowid = 0, h;
  const uint8_t* p = position;
  p += quick_detail::read_varint(p, &payload);
  if (payload < q.payload_min || payload > q.payload_max) return true;
  const bool overflows = payload > q.standard_threshold;
  // Every way on from here rejects when the chain walk would.
  if (overflows && (q.standard_chain == chain_outcome::rejects || position >= q.chain_end)) return true;
  bool rowid_zero = false;
  const int rowid_length = quick_detail::varint_length(p, &rowid_zero);
  if (rowid_length == 0) {
    p += quick_detail::read_varint(p, &rowid);
    rowid_zero = rowid == 0;
  } else {
    p += rowid_length;
  }
  if (rowid_zero) return true;
  const uint8_t* header = p;
  p += quick_detail::read_varint(p, &h);
  if (h > q.page_size) return true;
  if (overflows && q.standard_rule.format) {
    // The candidate's own page number: one that cannot be read in the
    // window, or that exceeds the page count, rejects.
    const uint64_t at =
        static_cast<uint64_t>(header - position) + local_payload_size(q.standard_rule, payload);
    if (at + 4 > static_cast<uint64_t>(q.page_end - position) || load_be32(position + at) > q.page_count)
      return true;
  }
  // Some walk of the window prints: the header's tests come after it.
  if (overflows && q.standard_chain == chain_outcome::prints) return false;
  return quick_detail::header_rejects(q, header, p, h, payload, true);
}

// Free-space mode: true when decode_row(position, mode 1, budget) certainly
// rejects, for a budget that passed quick_budget_ok; room is budget - 4.
// The position must lie before safe_end.
[[gnu::always_inline]] inline bool quick_reject_freespace(const quick_limits& q,
                                                         const uint8_t* position, uint64_t room) {
  uint64_t h = position[0];
  const uint8_t* serials = position + 1;
  if (h >= 0x80) serials = position + quick_detail::read_varint(position, &h);
  if (h > q.page_size) return true;
  const uint64_t payload = room - h;  // wraps as decode_row's does
  if (payload > q.overflow_threshold && q.chain != chain_outcome::silent)
    return q.chain == chain_outcome::rejects;
  return quick_detail::header_rejects(q, position, serials, h, payload, false);
}

// Free-space mode: false when decode_row rejects every position for this
// budget before it reads a byte (a budget below 4 or outside the limits).
inline bool quick_budget_ok(const quick_limits& q, uint32_t budget) {
  return budget >= 4 && budget - 4u >= q.payload_min && budget - 4u <= q.payload_max;
}

// True when decode_row(position, mode, budget) certainly rejects.
inline bool quick_rejects(const quick_limits& q, const uint8_t* position, int32_t mode,
                          uint32_t budget) {
  if (mode == 1) {
    if (!quick_budget_ok(q, budget)) return true;
    return position < q.safe_end && quick_reject_freespace(q, position, budget - 4u);
  }
  return position < q.safe_end && quick_reject_standard(q, position);
}

// The lane stage's limits in standard mode for the positions from block on.
inline const lane_limits& standard_lanes_at(const quick_limits& q, const uint8_t* block) {
  return block >= q.chain_end ? q.lanes_tail : q.lanes;
}

// The first-stage limits of free-space mode for the budget room.
lane_room lane_room_for(const quick_limits& q, uint64_t room);

// The lane stages of 32 positions (q.width avx2 or avx512), for
// skip_rejected: the first candidate from pos on, before fast_stop, that the
// fast test leaves to decode_row (found set); otherwise the position, fewer
// than 32 before fast_stop, where they stopped.
const uint8_t* skip_standard_wide(const quick_limits& q, const uint8_t* pos, const uint8_t* fast_stop,
                                  bool* found);
const uint8_t* skip_freespace_wide(const quick_limits& q, const lane_room& lanes, uint64_t room,
                                   const uint8_t* pos, const uint8_t* fast_stop, bool* found);

// Sets, in bits (bit i for position base + i), every position from pos on,
// before stop, that the fast test (the lane stage, then the quick test)
// leaves to decode_row. Each block of lanes is judged once, where calling
// skip_rejected after each survivor would judge it again.
void mark_survivors(const quick_limits& q, const uint8_t* pos, const uint8_t* stop, int32_t mode,
                    uint32_t budget, const uint8_t* base, uint64_t* bits);

// The first position from pos on, before stop, that the fast test leaves to
// decode_row; stop when there is none.
inline const uint8_t* skip_rejected(const quick_limits& q, const uint8_t* pos,
                                    const uint8_t* stop, int32_t mode, uint32_t budget) {
  if (pos >= stop) return pos;
  const uint8_t* fast_stop = stop < q.safe_end ? stop : q.safe_end;
  bool found = false;
  if (mode == 1) {
    if (!quick_budget_ok(q, budget)) return stop;
    const uint64_t room = budget - 4u;
    const lane_room lanes = lane_room_for(q, room);
    if (q.width != lane_width::sse2) {
      pos = skip_freespace_wide(q, lanes, room, pos, fast_stop, &found);
      if (found) return pos;
    }
    for (; fast_stop - pos >= 16; pos += 16)
      for (uint32_t m = lanes_freespace(lanes, pos); m != 0; m &= m - 1) {
        const uint8_t* candidate = pos + __builtin_ctz(m);
        if (!quick_reject_freespace(q, candidate, room)) return candidate;
      }
    while (pos < fast_stop && quick_reject_freespace(q, pos, room)) ++pos;
  } else {
    if (q.width != lane_width::sse2) {
      pos = skip_standard_wide(q, pos, fast_stop, &found);
      if (found) return pos;
    }
    for (; fast_stop - pos >= 16; pos += 16)
      for (uint32_t m = lanes_standard(standard_lanes_at(q, pos), pos); m != 0; m &= m - 1) {
        const uint8_t* candidate = pos + __builtin_ctz(m);
        if (!quick_reject_standard(q, candidate)) return candidate;
      }
    while (pos < fast_stop && quick_reject_standard(q, pos)) ++pos;
  }
  return pos;
}
