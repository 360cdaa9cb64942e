// B-tree page headers and their cell pointer arrays.
#pragma once
#include <cstdint>

#include "format/bytes.h"
#include "format/page_store.h"
#include "format/pages.h"

struct btree_page {
  byte_view bytes;           // the whole page as stored (may be cut short)
  page_origin origin;        // the file the page was read from
  uint64_t file_offset;      // of bytes[0] in that file
  uint32_t number;
  uint32_t usable;           // bytes of the page that the b-tree may use
  uint32_t header_offset;    // 100 on page 1, 0 elsewhere
  uint32_t header_size;      // 8 on leaves, 12 on interior pages
  uint8_t type;
  uint32_t first_freeblock;
  uint32_t cell_count;
  uint32_t content_start;    // 0 in the header means 65536
  uint32_t fragmented;
  uint32_t right_child;      // interior pages
};

// Reads the page header of page `number`. False when the type byte is not a
// b-tree type or the header does not fit in the usable bytes.
bool read_btree_page(const page_ref& ref, uint32_t number, uint32_t usable, btree_page* page);

// The end of the cell pointer array (an offset within the page).
inline uint64_t cell_array_end(const btree_page& page) {
  return uint64_t{page.header_offset} + page.header_size + 2ull * page.cell_count;
}

// The offset of cell i from the cell pointer array. False when the pointer
// lies outside the usable bytes or points before the end of the array.
bool cell_offset(const btree_page& page, uint32_t i, uint32_t* offset);
