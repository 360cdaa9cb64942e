#include "deep/rowid_lookup.h"

bool find_rowid(const page_store& store, uint32_t root, int64_t rowid, btree_page* page, cell_info* cell) {
  uint32_t number = root;
  for (int depth = 0; depth < 40 && number != 0; ++depth) {
    if (!read_btree_page(store_page(store, number), number, store.usable, page) || !is_table_type(page->type))
      return false;
    const bool leaf = is_leaf_type(page->type);
    uint32_t next = leaf ? 0 : page->right_child;
    for (uint32_t i = 0; i < page->cell_count; ++i) {
      uint32_t offset = 0;
      if (!cell_offset(*page, i, &offset) ||
          !read_cell(page->bytes, page->type, store.usable, offset, page->usable, cell))
        continue;
      if (leaf && cell->rowid == rowid) return true;
      if (!leaf && rowid <= cell->rowid) {
        next = cell->left_child;
        break;
      }
    }
    number = next;
  }
  return false;
}
