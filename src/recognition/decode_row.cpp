#include "recognition/decode_row.h"

#include <cstdio>

#include "diagnostics/debug.h"
#include "diagnostics/scan_trace.h"
#include "format/varint.h"

namespace {

// Follows the row's overflow chain from the page number at `pointer` (four
// readable bytes of the image). Returns false to reject the candidate.
// Addresses are computed in 64 bits, so a large page number can never wrap
// back into the image.
bool walk_overflow_chain(const globals* g, const uint8_t* pointer, row_record* row) {
  const uint32_t first = load_be32(pointer);
  row->overflow_pages[0] = first;
  row->overflow_pages[1] = 0;
  if (first > g->page_count) return false;
  if (g->opt.debug) trace_first_overflow(g, pointer, first);
  uint32_t k = 1;
  for (uint32_t current = first; current != 0;) {
    const uint64_t offset = page_offset(current, g->page_size);
    const void* address = reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(g->db_origin) + offset);
    if (g->opt.debug) printf_at("DEBUG: Calculated address: %p\n", address);
    if (!image_next_overflow_page(g, offset, &current)) {
      if (g->opt.debug)
        printf_at("ERROR: Seek beyond end of data looking for overflow page (%p > %p)\n", address,
                  static_cast<const void*>(g->db_end));
      break;
    }
    row->overflow_pages[k] = current;
    if (g->opt.debug) printf_at("DEBUG: overflow page[%d] = %d\n", static_cast<int>(k), static_cast<int>(current));
    if (++k > overflow_chain_limit) {
      printf("ERROR: No more space for overflow pages\n");
      if (g->report.flush) g->report.flush(g->report.context);
      row->overflow_pages[0] = 0;
      break;
    }
    row->overflow_pages[k] = 0;
  }
  if (g->opt.debug) trace_overflow_list(row);
  return true;
}

// A payload longer than its page holds: finds where the first overflow page
// number sits and follows the chain. Returns false to reject the candidate
// (true as well for a payload that does not overflow).
bool read_overflow(const globals* g, const uint8_t* position, const uint8_t* page_end,
                   uint64_t header_start, uint64_t payload_length, bool freespace, row_record* row) {
  const local_rule rule = freespace ? freespace_local_rule(g) : standard_local_rule(g);
  if (payload_length > rule.threshold) {
    const uint8_t* pointer;
    if (rule.format) {
      // The page number follows the row's local part, inside the window.
      const uint64_t local = local_payload_size(rule, payload_length);
      if (header_start + local + 4 > static_cast<uint64_t>(page_end - position)) return false;
      row->local_size = local;
      pointer = position + header_start + local;
    } else {
      uint32_t unused;
      if (!first_overflow_page(g, page_end, &unused)) return false;
      pointer = page_end - 4;
    }
    if (!walk_overflow_chain(g, pointer, row)) return false;
  }
  return true;
}

// Reads the serial types of the record header that ends header_end bytes
// after position, filling the cell table. Returns decode_row's result.
// The cell total is kept in 64 bits from the cells' full sizes: a 32-bit
// total would wrap and let a header claiming cells of gigabytes pass the
// length tests.
int32_t decode_cells(const globals* g, const uint8_t* position, const uint8_t* read,
                     uint64_t header_end, row_record* row, int32_t mode) {
  const bool debug = g->opt.debug;
  const uint8_t* image_end = g->db_end + 1;
  const uint64_t payload_length = row->payload_length;
  cell_entry* cells = row->cells;
  uint64_t sum = 0;
  int32_t i = 0;
  uint64_t read_offset;
  for (;;) {
    uint64_t serial;
    const int32_t length = decode_varint_within(&serial, read, image_end, &read);
    if (length == 0 || length > 8) return 0;
    uint32_t type;
    uint64_t size;
    if (serial >= 12) {
      type = (serial & 1) ? 13 : 12;
      size = serial_size(serial);
    } else if (serial_reserved(serial)) {
      if (debug) trace_reserved_type();
      return 0;
    } else {
      type = static_cast<uint32_t>(serial);
      size = serial_size(serial);
    }
    const uint32_t offset = static_cast<uint32_t>(header_end + sum);
    cells[i] = cell_entry{type, offset, static_cast<uint32_t>(size)};
    if (size > payload_length - sum) return 0;  // the total would exceed the payload
    sum += size;
    read_offset = static_cast<uint64_t>(read - position);
    if (debug) trace_cell(i, type, size, offset, static_cast<int64_t>(header_end - read_offset));
    if (read_offset >= header_end) break;
    row->last_cell = ++i;
    if (i > g->opt.cellcount_max || static_cast<uint32_t>(i) >= row->cell_capacity) return 0;
  }
  if (debug) trace_header_end(read_offset, header_end, sum);
  if (i < g->opt.cellcount_min) {
    if (debug) trace_too_few_cells();
    return 0;
  }
  const uint64_t header_size = row->payload_header_size;
  if (debug) trace_length_check(sum, header_size, payload_length);
  if (mode == mode_freespace) {
    if (debug) trace_freespace_match(sum, payload_length);
    // Kept positive: a result of the budget or more ends the window anyway.
    if (sum >= INT32_MAX || header_size >= INT32_MAX) return INT32_MAX;
    const uint64_t used = 4 + header_size + sum;
    return used > INT32_MAX ? INT32_MAX : static_cast<int32_t>(used);
  }
  if (sum + header_size != payload_length) return 0;
  if (debug) trace_match();
  return 1;
}

}  // namespace

int32_t decode_row(const globals* g, const uint8_t* position, const uint8_t* page_end,
                   row_record* row, int32_t mode, uint32_t freeblock_size) {
  const bool debug = g->opt.debug;
  const bool freespace = mode == mode_freespace;
  const uint8_t* image_end = g->db_end + 1;
  if (debug) trace_decode_start(g, position, freespace);
  row->last_cell = 0;
  row->overflow_pages[0] = 0;
  row->local_size = 0;
  const uint8_t* read = position;

  uint64_t payload_length;
  if (freespace) {
    if (freeblock_size < 4) return 0;  // no record fits a budget below 4
    payload_length = freeblock_size - 4u;
  } else if (!decode_varint_within(&payload_length, read, image_end, &read)) {
    return 0;
  }
  row->payload_length = payload_length;
  if (payload_length > g->db_size || payload_length < g->opt.rowsize_min ||
      payload_length > g->opt.rowsize_max)
    return 0;
  if (debug) trace_payload_size(payload_length);

  uint64_t rowid = 1;
  if (!freespace && !decode_varint_within(&rowid, read, image_end, &read)) return 0;
  row->rowid = static_cast<int64_t>(rowid);
  if (rowid == 0) return 0;
  row->prefix_length = read - position;
  const uint64_t header_start = static_cast<uint64_t>(read - position);

  uint64_t header_size;
  if (!decode_varint_within(&header_size, read, image_end, &read)) return 0;
  row->payload_header_size = header_size;
  if (header_size > g->page_size) return 0;
  if (freespace) {
    payload_length -= header_size;  // wraps when the header outgrows the budget
    row->payload_length = payload_length;
    if (debug) trace_freespace_data(payload_length);
  }
  if (!read_overflow(g, position, page_end, header_start, payload_length, freespace, row)) return 0;
  if (header_size < 2) return 0;
  if (debug) trace_record_sizes(payload_length, rowid, header_size);
  return decode_cells(g, position, read, header_start + header_size, row, mode);
}
