// Cells of b-tree pages: their prefix varints, the local part of the payload
// by the format's own thresholds, and the first overflow page.
#pragma once
#include <cstdint>

#include "format/bytes.h"
#include "format/local_payload.h"

struct cell_info {
  uint32_t offset;          // the cell's first byte within its page
  uint32_t left_child;      // interior cells
  uint64_t payload_size;    // P; 0 on table-interior cells
  int64_t rowid;            // table cells (the key on table-interior cells)
  uint32_t payload_offset;  // first byte of the local payload within the page
  uint32_t local_size;      // payload bytes on the page
  uint32_t overflow_page;   // first overflow page, 0 when the payload is all local
  uint32_t size;            // bytes the cell takes on its page
};

// Reads the cell at `offset` of a page of the given type. Every byte of the
// cell must lie before `limit` (the usable size, or the end of a carved
// region) and inside `page`. False when it does not.
bool read_cell(byte_view page, uint8_t type, uint32_t usable, uint32_t offset, uint32_t limit,
               cell_info* cell);
