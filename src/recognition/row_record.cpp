#include "recognition/row_record.h"

#include <algorithm>
#include <cstdlib>

int cell_table_reserve(globals* g) {
  if (g->cell_table) return 0;
  // A header of h bytes holds at most h - 1 serial types, and h is bounded
  // by the page size and by the file, so this many slots always suffice.
  const uint64_t by_limit = static_cast<uint64_t>(static_cast<int64_t>(g->opt.cellcount_max) + 1);
  const uint64_t by_header = std::min<uint64_t>(g->page_size, g->db_size);
  uint64_t slots = std::min(by_limit, by_header);
  slots = std::max<uint64_t>(slots, min_cell_capacity);
  g->cell_table = static_cast<cell_entry*>(calloc(slots, sizeof(cell_entry)));
  if (!g->cell_table) {
    // Without memory for a larger table, headers beyond the smallest table
    // are rejected rather than the run given up.
    slots = min_cell_capacity;
    g->cell_table = static_cast<cell_entry*>(calloc(slots, sizeof(cell_entry)));
    if (!g->cell_table) return 1;
  }
  g->cell_table_size = static_cast<uint32_t>(slots);
  return 0;
}

int row_record_bind(globals* g, row_record* row) {
  if (cell_table_reserve(g) != 0) return 1;
  row->cells = g->cell_table;
  row->cell_capacity = g->cell_table_size;
  return 0;
}
