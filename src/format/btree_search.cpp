#include "format/btree_search.h"

namespace {

// A table b-tree of 2^32 pages is far shallower than this.
constexpr int max_depth = 64;

// The key of cell i: the rowid on a leaf, the separator on an interior
// page (after the 4-byte child); only the varints before it are read.
bool key_of(const btree_page& page, uint32_t i, int64_t* key) {
  uint32_t offset = 0;
  if (!cell_offset(page, i, &offset)) return false;
  const byte_view bytes = page.bytes.first(page.usable);
  uint64_t at = offset, value = 0;
  if (page.type == page_table_interior)
    at += 4;
  else if (!read_varint(bytes, &at, &value))  // the payload size
    return false;
  if (!read_varint(bytes, &at, &value)) return false;
  *key = static_cast<int64_t>(value);
  return true;
}

// The first cell whose key is at least `rowid` (cell_count when none), by
// binary search; false when a probed cell cannot be read.
bool lower_bound(const btree_page& page, int64_t rowid, uint32_t* index) {
  uint32_t lo = 0, hi = page.cell_count;
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    int64_t key = 0;
    if (!key_of(page, mid, &key)) return false;
    if (key < rowid)
      lo = mid + 1;
    else
      hi = mid;
  }
  *index = lo;
  return true;
}

}  // namespace

bool find_rowid(const page_reader& pages, uint32_t root, uint32_t usable, int64_t rowid, rowid_hit* hit) {
  uint32_t number = root;
  for (int depth = 0; depth < max_depth; ++depth) {
    btree_page page{};
    if (!read_btree_page(pages.read(number), number, usable, &page) || !is_table_type(page.type)) return false;
    uint32_t index = 0, offset = 0;
    if (!lower_bound(page, rowid, &index)) return false;
    cell_info cell{};
    if (index < page.cell_count &&
        (!cell_offset(page, index, &offset) ||
         !read_cell(page.bytes, page.type, page.usable, offset, page.usable, &cell)))
      return false;
    if (page.type == page_table_leaf) {
      if (index == page.cell_count || cell.rowid != rowid) return false;
      *hit = {page, cell};
      return true;
    }
    number = index == page.cell_count ? page.right_child : cell.left_child;
  }
  return false;
}
