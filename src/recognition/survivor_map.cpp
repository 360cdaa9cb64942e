#include "recognition/survivor_map.h"

#include <cstring>

void survivor_map_build(survivor_map* map, const quick_limits& q) {
  const uint64_t positions = static_cast<uint64_t>(map->stop - map->start);
  memset(map->bits, 0, survivor_words(positions) * sizeof(uint64_t));
  // The same steps as the scanner's fine search: every position either is
  // rejected by the fast test or is a survivor.
  const uint8_t* pos = map->start;
  while (pos < map->stop) {
    if (quick_rejects(q, pos, map->mode, map->budget)) {
      pos = skip_rejected(q, pos + 1, map->stop, map->mode, map->budget);
      if (pos >= map->stop) break;
    }
    const uint64_t at = static_cast<uint64_t>(pos - map->start);
    map->bits[at / 64] |= uint64_t{1} << (at % 64);
    ++pos;
  }
}
