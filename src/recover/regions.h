// The free regions of a b-tree page: the unallocated space between the cell
// pointer array and the cell content area, each freeblock of the chain, and
// the bytes of the content area that neither a cell nor a freeblock takes
// (fragments, and space a damaged chain no longer reaches).
#pragma once
#include <cstdint>
#include <vector>

#include "format/btree_page.h"

enum class region_kind : uint8_t {
  freeblock,    // a freeblock: its first four bytes are the block's header
  unallocated,  // between the cell pointer array and the cell content area
  gap,          // content-area bytes of no cell and no freeblock
  old_cell,     // a cell an old cell pointer array still points to
  whole,        // a page with no b-tree header left, or a trunk's tail
};

struct page_region {
  uint32_t start;
  uint32_t end;
  region_kind kind;
};

struct cell_extent {
  uint32_t start;
  uint32_t end;
};

// Why a freeblock chain ended before its 0 link, if it did.
enum class chain_fault : uint8_t { none, out_of_page, not_ascending, too_small };

// Lists the page's regions in page order into *regions and the extents of
// its cells (read through the cell pointer array) into *cells. The
// freeblock chain is followed while each block lies after the cell pointer
// array, inside the usable bytes, and after the one before it, so it always
// ends. `taken` is scratch space, reused. The old interior cells of a
// cleared table root count as taken.
//
// `free_bytes`, when known (the live walk counts them), spares reading the
// cells: if the unallocated space, the freeblocks and the fragment count
// add up to it, the content area has no other gaps (and *cells is left
// empty).
chain_fault page_regions(const btree_page& page, uint32_t page_count,
                         std::vector<page_region>* regions, std::vector<cell_extent>* cells,
                         std::vector<cell_extent>* taken, uint32_t free_bytes = UINT32_MAX);
