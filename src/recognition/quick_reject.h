// The scanner's fast path: a cheap test that proves decode_row would reject
// a candidate without writing anything. It never says "reject" for a
// candidate that decode_row could accept or that would make decode_row
// print (the overflow walk's error line), so the scan's output is the same
// with or without it. Candidates it cannot settle cheaply (long varints,
// bytes near the end of the image, overflow chains that need walking) are
// left to decode_row.
#pragma once
#include <cstdint>

#include "setup/globals.h"

struct quick_limits {
  uint64_t payload_min;     // rowsize_min
  uint64_t payload_max;     // the smaller of rowsize_max and db_size
  uint64_t page_size;
  uint64_t overflow_threshold;  // payload lengths above it walk a chain
  bool chain_rejects;       // this window's chain walk rejects at once
  int32_t cellcount_min;
  int32_t cellcount_max;
  uint32_t cell_capacity;
  const uint8_t* image_end;  // one past the image
  const uint8_t* safe_end;  // positions before it have 64 readable bytes;
                            // null switches the fast path off
  uint8_t size_of[128];     // data size of one-byte serial types
  bool reserved[128];       // serial types 10 and 11
};

// Sets the limits for one window of the scan; page_end is its end.
void quick_limits_init(quick_limits* q, const globals* g, const uint8_t* page_end,
                       uint32_t cell_capacity);

namespace quick_detail {

// Reads a varint known to lie in readable memory; returns its byte count.
inline int read_varint(const uint8_t* p, uint64_t* value) {
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
// serials: true when decode_row certainly rejects. Only one-byte serial
// types are handled; with them (and the overflow threshold below 2^32 - 2^16)
// the 32-bit cell total cannot wrap, so a total beyond the payload already
// settles it.
inline bool header_rejects(const quick_limits& q, const uint8_t* header, const uint8_t* serials,
                           uint64_t h, uint64_t payload, bool exact_sum) {
  if (h < 2) return true;
  if (exact_sum && h > payload) return true;
  if (h > static_cast<uint64_t>(q.image_end - header)) return false;
  uint64_t total = 0;
  int32_t i = 0;
  const uint8_t* end = header + h;
  const uint8_t* p = serials;
  for (;;) {
    const uint8_t serial = *p++;
    if (serial & 0x80u) return false;
    if (q.reserved[serial]) return true;
    total += q.size_of[serial];
    if (total > payload) return true;
    if (exact_sum && total + h > payload) return true;
    if (p >= end) break;
    ++i;
    if (i > q.cellcount_max || static_cast<uint32_t>(i) >= q.cell_capacity) return true;
  }
  if (i < q.cellcount_min) return true;
  return exact_sum && total + h != payload;
}

}  // namespace quick_detail

// Standard mode: true when decode_row(position, mode 0) certainly rejects.
inline bool quick_reject_standard(const quick_limits& q, const uint8_t* position) {
  if (position >= q.safe_end) return false;  // also when safe_end is null
  uint64_t payload, rowid, h;
  const uint8_t* p = position;
  p += quick_detail::read_varint(p, &payload);
  if (payload < q.payload_min || payload > q.payload_max) return true;
  p += quick_detail::read_varint(p, &rowid);
  if (rowid == 0) return true;
  const uint8_t* header = p;
  p += quick_detail::read_varint(p, &h);
  if (h > q.page_size) return true;
  if (payload > q.overflow_threshold) return q.chain_rejects;
  return quick_detail::header_rejects(q, header, p, h, payload, true);
}

// Free-space mode with the budget freeblock_size: true when
// decode_row(position, mode 1, freeblock_size) certainly rejects.
inline bool quick_reject_freespace(const quick_limits& q, const uint8_t* position,
                                   uint32_t freeblock_size) {
  if (freeblock_size < 4) return true;
  const uint64_t budget = freeblock_size - 4u;
  if (budget < q.payload_min || budget > q.payload_max) return true;
  if (position >= q.safe_end) return false;
  uint64_t h;
  const uint8_t* serials = position + quick_detail::read_varint(position, &h);
  if (h > q.page_size) return true;
  const uint64_t payload = budget - h;  // wraps as decode_row's does
  if (payload > q.overflow_threshold) return q.chain_rejects;
  return quick_detail::header_rejects(q, position, serials, h, payload, false);
}
