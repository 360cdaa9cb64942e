// What a page's first bytes say about how it is searched: the table-leaf
// header's first freeblock and mode, and whether a window is searched at
// all. The page walker and the scan-ahead worker read pages through it.
#pragma once
#include <cstdint>

#include "format/bytes.h"
#include "format/pages.h"
#include "setup/globals.h"

// Big-endian 16-bit value at a page offset; bytes outside the window read as 0.
inline uint32_t page_be16(const uint8_t* page, uint64_t window, uint64_t offset) {
  return static_cast<uint32_t>(be_padded(byte_view(page, window), offset, 2));
}

// The current page's header fields and first freeblock.
struct page_values {
  int32_t mode;
  uint32_t freeblock_offset;
  uint32_t freeblock_size;
  uint32_t freeblock_next;
};

// The first freeblock of a table-leaf page of window bytes: mode 1 when it
// has one; its size and link when its header lies within the window.
inline page_values leaf_page_values(const uint8_t* page, uint64_t window) {
  page_values pv{};
  pv.freeblock_offset = page_be16(page, window, 1);
  if (pv.freeblock_offset == 0) return pv;
  pv.mode = 1;
  if (pv.freeblock_offset + 4u <= window) {
    pv.freeblock_next = page_be16(page, window, pv.freeblock_offset);
    pv.freeblock_size = page_be16(page, window, pv.freeblock_offset + 2u);
  }
  return pv;
}

// True when a search from start is made at all: never on page 1, never
// from the image's last byte on.
inline bool searched(const globals* g, const uint8_t* start) {
  return start > g->db_origin && start < g->db_end;
}
