#include "recover/cell_parse.h"

#include <algorithm>

#include "format/cell.h"
#include "format/record.h"

bool parse_record_header(byte_view page, uint32_t at, uint32_t hi, uint32_t max_fields,
                         carved_record* out, uint64_t max_payload) {
  const byte_view bounded = page.first(std::min<uint64_t>(hi, page.size()));
  uint64_t pos = at;
  uint64_t header_size = 0;
  if (!read_varint(bounded, &pos, &header_size)) return false;
  const uint64_t header_end = at + header_size;
  if (header_size < 2 || header_end > bounded.size()) return false;
  out->fields.clear();
  out->header_size = header_size;
  const byte_view header = bounded.first(header_end);
  uint64_t total = header_size;
  while (pos < header_end) {
    uint64_t serial = 0;
    if (!read_varint(header, &pos, &serial) || serial_reserved(serial)) return false;
    if (out->fields.size() >= max_fields) return false;
    // Compared before adding: a huge serial type must not wrap the sum.
    const uint64_t size = serial_size(serial);
    if (size > max_payload - total) return false;
    total += size;
    out->fields.push_back({serial, size, true});
  }
  return true;
}

bool parse_whole_cell(byte_view page, uint32_t pos, uint32_t hi, cell_format format,
                      const cell_limits& limits, carved_record* out) {
  const byte_view bounded = page.first(std::min<uint64_t>(hi, page.size()));
  uint64_t at = pos;
  uint64_t payload = 0;
  if (!read_varint(bounded, &at, &payload) || payload < 2) return false;
  uint64_t rowid = 0;
  if (format == cell_format::table && !read_varint(bounded, &at, &rowid)) return false;
  const uint32_t record_start = static_cast<uint32_t>(at);
  // The header size bounds the work: at most nine bytes a column, and no
  // more than the payload.
  uint64_t header_size = 0;
  uint64_t peek = at;
  if (!read_varint(bounded, &peek, &header_size) || header_size < 2 || header_size > payload ||
      header_size > 1 + 9ull * limits.max_fields)
    return false;
  // A payload held wholly on the page must end inside the region.
  const bool table = format == cell_format::table;
  if (payload <= max_local(limits.usable, table) && record_start + payload > bounded.size()) return false;
  if (!parse_record_header(page, record_start, hi, limits.max_fields, out, payload)) return false;
  uint64_t sum = out->header_size;
  for (const carved_field& f : out->fields) {
    sum += f.size;
    if (sum > payload) return false;
  }
  if (sum != payload) return false;
  const uint32_t local = local_payload_size(payload, limits.usable, table);
  uint64_t end = record_start + uint64_t{local};
  uint32_t overflow = 0;
  if (local < payload) {
    uint64_t next = 0;
    if (!read_be(bounded, end, 4, &next) || next == 0) return false;
    overflow = static_cast<uint32_t>(next);
    end += 4;
  }
  if (end > bounded.size()) return false;
  out->format = format;
  out->cell_start = pos;
  out->record_start = record_start;
  out->end = static_cast<uint32_t>(end);
  out->payload_size = payload;
  out->local_size = local;
  out->overflow_page = overflow;
  out->has_rowid = table;
  out->rowid = static_cast<int64_t>(rowid);
  out->rebuilt = false;
  out->end_settled = false;
  out->chain_settled = false;
  out->inferred = false;
  out->typed_guess = false;
  out->cut_at = 0;
  return true;
}
