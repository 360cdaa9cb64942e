// One decoded row candidate.
#pragma once
#include <cstdint>

#include "format/bytes.h"
#include "format/local_payload.h"
#include "format/overflow.h"
#include "format/serial_type.h"
#include "image/image.h"
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
  // Standard mode, a row that overflows by the format's rule: the payload
  // bytes on its own page (its overflow page number follows them). 0 for
  // every other candidate.
  uint64_t local_size;
  const uint8_t* mapped_data;    // the row's contiguous bytes (dump_row)
  const uint8_t* mapped_end;
};

// Where a row's payload stops on its own page. Standard-mode rows on pages
// of 480 bytes or more follow the format's rule (format/local_payload.h)
// with the usable size U: the page size less the reserved bytes, or the
// page size when that leaves less than 480. Free-space records (whose
// payload length is not their own) and smaller pages take an overflowing
// row to end at its page's end instead, with the page number in the page's
// last four bytes, and overflow above a table leaf's X for the page size.
struct local_rule {
  bool format;         // the format's rule (else: the row ends at the page's end)
  uint64_t usable;     // U
  uint64_t threshold;  // payload lengths above it overflow
  uint64_t min_local;  // M
};

inline local_rule freespace_local_rule(const globals* g) {
  return {false, g->page_size, max_local(g->page_size, true), 0};
}

inline local_rule standard_local_rule(const globals* g) {
  if (g->page_size < 480) return freespace_local_rule(g);
  uint64_t usable = uint64_t{g->page_size} - g->reserved_bytes;
  if (usable < 480) usable = g->page_size;
  return {true, usable, max_local(usable, true), min_local(usable)};
}

// The payload bytes that an overflowing row of payload length P keeps on
// its page, by the format's rule (P above the threshold).
inline uint64_t local_payload_size(const local_rule& rule, uint64_t payload) {
  return overflow_local_size(payload, rule.usable, rule.threshold, rule.min_local);
}

// An overflowing row that ends at its page's end: its first overflow page
// number is the window's last four bytes. False when they lie outside the
// image.
inline bool first_overflow_page(const globals* g, const uint8_t* page_end, uint32_t* page) {
  if (page_end > g->db_end + 1 || page_end - g->db_origin < 4) return false;
  *page = load_be32(page_end - 4);
  return true;
}

// Whether the next-page number at an overflow page's offset can be read:
// the page must not start beyond db_end - 4.
inline bool overflow_link_readable(const globals* g, uint64_t offset) {
  return offset + 5 <= g->db_size;
}

// The byte scan's step along an overflow chain: the page after the overflow
// page at `offset` of the image, when overflow_link_readable admits its link.
inline bool image_next_overflow_page(const globals* g, uint64_t offset, uint32_t* next) {
  return overflow_link_readable(g, offset) && next_overflow_page(image_bytes(g), offset, next);
}

// Sizes the run's cell table once: every header that the limits, the page
// size and the file size admit fits (at least 1001 cells). Needs page_size
// and db_size. Returns 0, or 1 when the table cannot be allocated.
int cell_table_reserve(globals* g);

// Points a record at the run's cell table (reserving it on first use).
int row_record_bind(globals* g, row_record* row);
