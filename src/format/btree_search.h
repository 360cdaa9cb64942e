// Looking a row up by its rowid in a table b-tree, as the library does:
// from the root through the interior pages' keys down to one leaf.
#pragma once
#include <cstdint>

#include "format/btree_page.h"
#include "format/cell.h"
#include "format/page_store.h"

struct rowid_hit {
  btree_page page;  // the leaf that holds the row
  cell_info cell;
};

// Finds the cell of `rowid` in the table b-tree rooted at `root`, reading
// pages through `pages`. False when the tree holds no such row, or when a
// page on the way is not a table page, a cell cannot be read, or the tree
// is deeper than any real one (a loop).
bool find_rowid(const page_reader& pages, uint32_t root, uint32_t usable, int64_t rowid, rowid_hit* hit);
