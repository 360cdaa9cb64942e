// Finding a live row by its rowid: the interior cells of a table b-tree
// lead to the one leaf that would hold it.
#pragma once
#include <cstdint>

#include "format/btree_page.h"
#include "format/cell.h"
#include "format/page_store.h"

// Finds the leaf cell of `rowid` in the table b-tree rooted at `root`;
// fills *page and *cell. A walk deeper than any tree of the file's size is
// taken for a loop and ends it.
bool find_rowid(const page_store& store, uint32_t root, int64_t rowid, btree_page* page, cell_info* cell);
