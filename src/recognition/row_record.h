// One decoded row candidate.
#pragma once
#include <cstdint>
#include "setup/globals.h"

struct cell_entry {
  uint32_t type;    // serial type 0..9; 12 for every blob, 13 for every text
  uint32_t offset;  // from the candidate's first byte to the cell's data
  uint32_t size;    // data bytes (low 32 bits)
};

constexpr uint32_t min_cell_capacity = 1001;
constexpr uint32_t overflow_capacity = 10001;
constexpr uint32_t overflow_chain_limit = 10000;

struct row_record {
  int64_t prefix_length;         // payload-length and rowid varints; 0 in free-space mode
  uint64_t payload_length;
  int64_t rowid;
  uint64_t payload_header_size;  // "PLHz"
  int32_t last_cell;             // index of the last cell
  cell_entry* cells;             // the run's cell table (g->cell_table)
  uint32_t cell_capacity;
  uint32_t overflow_pages[overflow_capacity];  // ends at the first 0
  const uint8_t* mapped_data;    // the row's contiguous bytes (dump_row)
  const uint8_t* mapped_end;
};

// Sizes the run's cell table once: every header that the limits, the page
// size and the file size admit fits (at least 1001 cells). Needs page_size
// and db_size. Returns 0, or 1 when the table cannot be allocated.
int cell_table_reserve(globals* g);

// Points a record at the run's cell table (reserving it on first use).
int row_record_bind(globals* g, row_record* row);
