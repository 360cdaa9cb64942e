#include "format/cell.h"

#include <algorithm>

#include "format/btree_page.h"

bool read_cell(byte_view page, uint8_t type, uint32_t usable, uint32_t offset, uint32_t limit,
               cell_info* cell) {
  const byte_view bounded = page.first(std::min<uint64_t>({page.size(), limit, usable}));
  cell_info c{};
  c.offset = offset;
  uint64_t at = offset;
  if (type == page_table_interior || type == page_index_interior) {
    uint64_t child = 0;
    if (!read_be(bounded, at, 4, &child)) return false;
    c.left_child = static_cast<uint32_t>(child);
    at += 4;
  }
  if (type == page_table_interior) {
    uint64_t key = 0;
    if (!read_varint(bounded, &at, &key)) return false;
    c.rowid = static_cast<int64_t>(key);
    c.size = static_cast<uint32_t>(at - offset);
    *cell = c;
    return true;
  }
  if (!read_varint(bounded, &at, &c.payload_size)) return false;
  if (type == page_table_leaf) {
    uint64_t rowid = 0;
    if (!read_varint(bounded, &at, &rowid)) return false;
    c.rowid = static_cast<int64_t>(rowid);
  }
  c.payload_offset = static_cast<uint32_t>(at);
  c.local_size = local_payload_size(c.payload_size, usable, type == page_table_leaf);
  uint64_t end = at + c.local_size;
  if (c.local_size < c.payload_size) {
    uint64_t next = 0;
    if (!read_be(bounded, end, 4, &next)) return false;
    c.overflow_page = static_cast<uint32_t>(next);
    end += 4;
  }
  if (end > bounded.size()) return false;
  c.size = static_cast<uint32_t>(end - offset);
  *cell = c;
  return true;
}
