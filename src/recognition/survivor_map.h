// The positions of one search window that the fast test leaves to
// decode_row, worked out ahead of the scan: one bit per position. A clear
// bit is a position that the fast test rejects, so decode_row would reject
// it silently; the scanner decodes the set ones only and skips the rest.
#pragma once
#include <cstdint>

#include "recognition/quick_reject.h"

struct survivor_map {
  const uint8_t* start;     // the window's first position (bit 0)
  const uint8_t* page_end;  // one past the window
  const uint8_t* stop;      // page_end - 10: no position from it on is searched
  int32_t mode;
  uint32_t budget;          // the freeblock size the bits hold for (mode 1)
  uint64_t* bits;           // survivor_words(stop - start) words
};

inline uint64_t survivor_words(uint64_t positions) { return (positions + 63) / 64; }

// Sets the bits of map's window: the positions, from start on and before
// stop, that the scanner would hand to decode_row if it tried every one.
// q holds the limits of the window (quick_limits_init with its page_end).
void survivor_map_build(survivor_map* map, const quick_limits& q);

// True when map was built for the window and mode that the scanner is
// asked to search, with the budget it has now.
inline bool survivor_map_fits(const survivor_map* map, const uint8_t* start,
                              const uint8_t* page_end, int32_t mode, uint32_t budget) {
  return map && map->start == start && map->page_end == page_end && map->mode == mode &&
         (mode == 0 || map->budget == budget);
}

// The first survivor from pos on (pos in [start, stop)); stop when none.
inline const uint8_t* survivor_next(const survivor_map& map, const uint8_t* pos) {
  const uint64_t words = survivor_words(static_cast<uint64_t>(map.stop - map.start));
  const uint64_t at = static_cast<uint64_t>(pos - map.start);
  uint64_t w = at / 64;
  uint64_t word = map.bits[w] & (~uint64_t{0} << (at % 64));
  while (word == 0) {
    if (++w == words) return map.stop;
    word = map.bits[w];
  }
  return map.start + (w * 64 + static_cast<uint64_t>(__builtin_ctzll(word)));
}
