// Pages of a database file: where a page begins and the types of b-tree
// pages (the first byte of their header).
#pragma once
#include <cstdint>

enum : uint8_t {
  page_index_interior = 2,
  page_table_interior = 5,
  page_index_leaf = 10,
  page_table_leaf = 13,
};

inline bool is_btree_type(uint8_t type) {
  return type == page_index_interior || type == page_table_interior || type == page_index_leaf ||
         type == page_table_leaf;
}
inline bool is_leaf_type(uint8_t type) { return type == page_index_leaf || type == page_table_leaf; }
inline bool is_table_type(uint8_t type) { return type == page_table_leaf || type == page_table_interior; }

// The file offset of page `page` (1-based) in pages of page_size bytes; in
// 64 bits, so that a large page number never wraps back into the file.
inline uint64_t page_offset(uint32_t page, uint32_t page_size) {
  return static_cast<uint64_t>(page - 1) * page_size;
}
