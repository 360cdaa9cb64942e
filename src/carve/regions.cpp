#include "carve/regions.h"

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

chain_fault page_regions(const btree_page& page, std::vector<page_region>* regions,
                         std::vector<cell_extent>* cells, std::vector<uint8_t>* covered) {
  regions->clear();
  read_cells(page, cells);
  const uint32_t usable = page.usable;
  const uint32_t array_end = static_cast<uint32_t>(std::min<uint64_t>(cell_array_end(page), usable));
  const uint32_t content = std::clamp(page.content_start, array_end, usable);
  if (array_end < content) regions->push_back({array_end, content, region_kind::unallocated});
  const chain_fault fault = read_freeblocks(page, array_end, regions);
  // Whatever else of the content area no cell and no freeblock takes.
  covered->assign(usable, 0);
  for (const cell_extent& c : *cells)
    std::fill(covered->begin() + c.start, covered->begin() + std::min(c.end, usable), 1);
  for (const page_region& r : *regions)
    std::fill(covered->begin() + r.start, covered->begin() + r.end, 1);
  for (uint32_t at = content; at < usable;) {
    if ((*covered)[at]) {
      ++at;
      continue;
    }
    uint32_t end = at;
    while (end < usable && !(*covered)[end]) ++end;
    regions->push_back({at, end, region_kind::gap});
    at = end;
  }
  std::sort(regions->begin(), regions->end(),
            [](const page_region& a, const page_region& b) { return a.start < b.start; });
  return fault;
}
