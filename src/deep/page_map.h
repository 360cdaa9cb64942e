// What every page of the database is: the role the walk found it in, the
// table that owns it, and what recovery later found on it.
#pragma once
#include <cstdint>
#include <vector>

enum class page_role : uint8_t {
  unreached,        // reached by no b-tree, no overflow chain, not the freelist
  table_interior,
  table_leaf,
  index_interior,
  index_leaf,
  overflow,
  freelist_trunk,
  freelist_leaf,
  pointer_map,
  lock_byte,
};

const char* page_role_name(page_role role);

struct page_entry {
  page_role role = page_role::unreached;
  int32_t owner = -1;           // index into schema::tables (0 is sqlite_master), -1 none
  bool index_entries = false;   // a page of an index: its cells are not rows
  int32_t index = -1;           // the index whose tree holds the page (index_state::defs)
  uint32_t free_bytes = 0;
  uint32_t rows_recovered = 0;
};

// Indexed by page number - 1.
using page_map = std::vector<page_entry>;

// The entry of page `number`, or null for page 0 and numbers past the map:
// page numbers from logs and damaged pages reach here unchecked.
inline page_entry* map_entry(page_map* map, uint32_t number) {
  return number >= 1 && number <= map->size() ? &(*map)[number - 1] : nullptr;
}
inline const page_entry* map_entry(const page_map& map, uint32_t number) {
  return number >= 1 && number <= map.size() ? &map[number - 1] : nullptr;
}
