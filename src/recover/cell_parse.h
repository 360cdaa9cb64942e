// Whole cells in free space: a cell whose prefix and record header survive
// is read exactly, and kept only when its sizes add up.
#pragma once
#include <cstdint>

#include "recover/carved_record.h"
#include "format/bytes.h"

struct cell_limits {
  uint32_t usable;        // the page's usable size (local payload thresholds)
  uint32_t max_fields;    // no table has more columns
};

// Reads the cell at `pos` of `page` in the given format. Its header must lie
// before `hi`, its serial types must add up to its payload length exactly,
// and its bytes on the page must end at or before `hi`. Overflowing cells
// need their overflow page number before `hi` as well.
bool parse_whole_cell(byte_view page, uint32_t pos, uint32_t hi, cell_format format,
                      const cell_limits& limits, carved_record* out);

// Reads a record header at `at` (the header-size varint first) into out's
// fields, at most max_fields of them; false when it is malformed, does not
// end before hi, or its values would take more than `max_payload` bytes
// with the header. Sets out->header_size.
bool parse_record_header(byte_view page, uint32_t at, uint32_t hi, uint32_t max_fields,
                         carved_record* out, uint64_t max_payload = UINT64_MAX);
