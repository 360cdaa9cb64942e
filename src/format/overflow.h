// Overflow chains: each overflow page begins with the number of the chain's
// next page (0 on the last one) and holds up to usable - 4 bytes of the
// payload after it. These are the chain's steps; each reader walks it with
// its own policy (which pages it admits, where it stops, what it reports).
#pragma once
#include <algorithm>
#include <cstdint>

#include "format/bytes.h"
#include "format/pages.h"

inline constexpr uint32_t overflow_link_size = 4;

// The payload bytes one overflow page holds.
inline uint32_t overflow_page_capacity(uint32_t usable) { return usable - overflow_link_size; }

// One step along a chain: the number of the page that follows the overflow
// page beginning at `start` of `bytes` (a page, start 0, or the whole file).
// False, *next untouched, when the link does not lie inside the view.
inline bool next_overflow_page(byte_view bytes, uint64_t start, uint32_t* next) {
  uint64_t value = 0;
  if (!read_be(bytes, start, overflow_link_size, &value)) return false;
  *next = static_cast<uint32_t>(value);
  return true;
}

// The payload bytes of the overflow page beginning at `start` of `bytes`:
// those after its link, at most `want`; fewer when the view ends first.
inline byte_view overflow_page_data(byte_view bytes, uint64_t start, uint64_t want) {
  const uint64_t data = start + overflow_link_size;
  if (data >= bytes.size()) return {};
  return bytes.subspan(data, std::min<uint64_t>(want, bytes.size() - data));
}
