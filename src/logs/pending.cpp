#include "logs/pending.h"

#include <algorithm>

#include "format/btree_page.h"
#include "format/cell.h"

void index_pending_writes(pending_writes* writes, uint32_t usable) {
  writes->cells.clear();
  for (const auto& [number, bytes] : writes->pages) {
    btree_page page{};
    if (!read_btree_page({bytes, page_origin::db, 0}, number, usable, &page) || page.type != page_table_leaf)
      continue;
    for (uint32_t i = 0; i < page.cell_count; ++i) {
      uint32_t offset = 0;
      cell_info cell{};
      if (!cell_offset(page, i, &offset) || !read_cell(page.bytes, page.type, page.usable, offset, page.usable, &cell))
        continue;
      writes->cells.push_back({cell.rowid, number, page.bytes.subspan(cell.payload_offset, cell.local_size)});
    }
  }
  std::sort(writes->cells.begin(), writes->cells.end(),
            [](const pending_cell& a, const pending_cell& b) { return a.rowid < b.rowid; });
}

row_pending pending_change(const pending_writes& writes, uint32_t page, int64_t rowid, byte_view local) {
  const auto written = std::lower_bound(writes.pages.begin(), writes.pages.end(), page,
                                        [](const auto& p, uint32_t n) { return p.first < n; });
  if (written == writes.pages.end() || written->first != page) return row_pending::none;
  const auto [from, to] = std::equal_range(
      writes.cells.begin(), writes.cells.end(), pending_cell{rowid, 0, {}},
      [](const pending_cell& a, const pending_cell& b) { return a.rowid < b.rowid; });
  if (from == to) return row_pending::deleted;
  bool changed_here = false;
  for (auto it = from; it != to; ++it) {
    if (std::ranges::equal(it->payload, local)) return row_pending::none;
    changed_here |= it->page == page;
  }
  return changed_here ? row_pending::updated : row_pending::none;
}
