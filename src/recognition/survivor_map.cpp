#include "recognition/survivor_map.h"

#include <cstring>

void survivor_map_build(survivor_map* map, const quick_limits& q) {
  const uint64_t positions = static_cast<uint64_t>(map->stop - map->start);
  memset(map->bits, 0, survivor_words(positions) * sizeof(uint64_t));
  mark_survivors(q, map->start, map->stop, map->mode, map->budget, map->start, map->bits);
}
