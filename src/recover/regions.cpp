#include "recover/regions.h"

#include <algorithm>

#include "format/cell.h"

namespace {

void read_cells(const btree_page& page, std::vector<cell_extent>* cells) {
  cells->clear();
  for (uint32_t i = 0; i < page.cell_count; ++i) {
    uint32_t offset = 0;
    cell_info cell{};
    if (!cell_offset(page, i, &offset) ||
        !read_cell(page.bytes, page.type, page.usable, offset, page.usable, &cell))
      continue;
    cells->push_back({offset, offset + std::max<uint32_t>(cell.size, 4)});
  }
}

chain_fault read_freeblocks(const btree_page& page, uint32_t floor,
                            std::vector<page_region>* regions) {
  uint32_t previous_end = floor;
  for (uint32_t at = page.first_freeblock; at != 0;) {
    if (at < previous_end || at + 4 > page.usable) return chain_fault::out_of_page;
    const uint32_t next = be16_or_zero(page.bytes, at);
    const uint32_t size = be16_or_zero(page.bytes, at + 2);
    if (size < 4) return chain_fault::too_small;
    if (at + size > page.usable) return chain_fault::out_of_page;
    regions->push_back({at, at + size, region_kind::freeblock});
    if (next != 0 && next <= at) return chain_fault::not_ascending;
    previous_end = at + size;
    at = next;
  }
  return chain_fault::none;
}

}  // namespace

namespace {

// A cleared table root (a leaf with no cells that was an interior page:
// DELETE of a whole table) keeps its old interior cells at the end of the
// page, through the old right-child pointer and cell pointer array that its
// new eight-byte header left standing. They overwrote the tails of the leaf
// cells that lay there, so they count as taken, not free.
void add_old_interior_cells(const btree_page& page, uint32_t page_count,
                            std::vector<cell_extent>* cells) {
  if (page.type != page_table_leaf || page.cell_count != 0 || page.header_offset != 0) return;
  const uint32_t right = be32_or_zero(page.bytes, 8);
  if (right < 2 || right > page_count) return;
  for (uint32_t at = 12; at + 2 <= page.usable; at += 2) {
    const uint32_t offset = be16_or_zero(page.bytes, at);
    if (offset < 12 || offset >= page.usable) return;
    cell_info cell{};
    if (!read_cell(page.bytes, page_table_interior, page.usable, offset, page.usable, &cell) ||
        cell.left_child < 2 || cell.left_child > page_count)
      continue;
    cells->push_back({offset, offset + cell.size});
  }
}

// The runs of [from, to) that no taken extent covers, as regions of `kind`.
// `taken` is sorted by start.
void free_runs(const std::vector<cell_extent>& taken, uint32_t from, uint32_t to, region_kind kind,
               std::vector<page_region>* regions) {
  uint32_t at = from;
  for (const cell_extent& t : taken) {
    if (t.end <= at) continue;
    if (t.start >= to) break;
    if (t.start > at) regions->push_back({at, t.start, kind});
    at = std::max(at, t.end);
    if (at >= to) return;
  }
  if (at < to) regions->push_back({at, to, kind});
}

}  // namespace

chain_fault page_regions(const btree_page& page, uint32_t page_count,
                         std::vector<page_region>* regions, std::vector<cell_extent>* cells,
                         std::vector<cell_extent>* taken_scratch, uint32_t free_bytes) {
  regions->clear();
  cells->clear();
  const uint32_t usable = page.usable;
  const uint32_t array_end = static_cast<uint32_t>(std::min<uint64_t>(cell_array_end(page), usable));
  const uint32_t content = std::clamp(page.content_start, array_end, usable);
  const chain_fault fault = read_freeblocks(page, array_end, regions);
  uint64_t accounted = uint64_t{content - array_end} + page.fragmented;
  for (const page_region& r : *regions) accounted += r.end - r.start;
  if (fault == chain_fault::none && accounted == free_bytes && page.cell_count != 0) {
    if (array_end < content) regions->insert(regions->begin(), {array_end, content, region_kind::unallocated});
    return fault;
  }
  read_cells(page, cells);
  add_old_interior_cells(page, page_count, cells);
  // What is taken: the cells and the freeblocks (the header and the cell
  // pointer array lie before array_end).
  std::vector<cell_extent>& taken = *taken_scratch;
  taken.assign(cells->begin(), cells->end());
  for (const page_region& r : *regions) taken.push_back({r.start, r.end});
  std::sort(taken.begin(), taken.end(),
            [](const cell_extent& a, const cell_extent& b) { return a.start < b.start; });
  free_runs(taken, array_end, content, region_kind::unallocated, regions);
  free_runs(taken, content, usable, region_kind::gap, regions);
  std::sort(regions->begin(), regions->end(),
            [](const page_region& a, const page_region& b) { return a.start < b.start; });
  return fault;
}
