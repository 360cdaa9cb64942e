#include "carve/carve_region.h"

#include <algorithm>

namespace {

// A whole cell of one of the formats at pos, judged a row; its table, or -2.
int32_t whole_cell_at(const carve_settings& settings, byte_view page, uint32_t pos, uint32_t hi,
                      std::span<const cell_format> formats, record_judge* judge,
                      carved_record* rec) {
  for (const cell_format format : formats) {
    if (!parse_whole_cell(page, pos, hi, format, settings.limits, rec)) continue;
    const int32_t table = judge->judge(*rec, page);
    if (table >= -1) return table;
  }
  return -2;
}

// Searches every position from `from` on for whole cells.
void scan_whole_cells(const carve_settings& settings, byte_view page, uint32_t from,
                      const page_region& region, std::span<const cell_format> formats,
                      record_judge* judge, carve_scratch* scratch) {
  for (uint32_t pos = from; pos + 3 <= region.end;) {
    const int32_t table = whole_cell_at(settings, page, pos, region.end, formats, judge, &scratch->record);
    if (table < -1) {
      ++pos;
      continue;
    }
    judge->found(scratch->record, table, region.kind);
    pos = scratch->record.end;
  }
}

// Where a record that begins in the freeblock may end: the block's end less
// up to three fragment bytes, and every later position where a whole cell
// or an old freeblock header begins.
void collect_anchors(const carve_settings& settings, byte_view page, const page_region& region,
                     std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  scratch->anchors.clear();
  carved_record probe;
  for (uint32_t q = region.start + 5; q + 4 <= region.end; ++q) {
    const uint32_t next = be16_or_zero(page, q);
    const uint32_t size = be16_or_zero(page, q + 2);
    const bool old_header = (next == 0 || (next > q && next < settings.limits.usable)) && size >= 4 &&
                            q + size <= settings.limits.usable;
    if (old_header || whole_cell_at(settings, page, q, region.end, formats, judge, &probe) >= -1)
      scratch->anchors.push_back(q);
  }
}

void end_hints(const page_region& region, uint32_t pos, carve_scratch* scratch) {
  scratch->hints.clear();
  for (uint32_t a : scratch->anchors)
    for (uint32_t g = 0; g <= 3; ++g)
      if (a >= pos + 5 + g) scratch->hints.push_back(a - g);
  for (uint32_t g = 0; g <= 3 && region.end >= pos + 5 + g; ++g) scratch->hints.push_back(region.end - g);
}

// Rebuilds the cell whose first four bytes are lost at pos, trying every
// table the page may hold; true when exactly one table gives one reading.
bool rebuild_at(const carve_settings& settings, byte_view page, const page_region& region,
                uint32_t pos, record_judge* judge, carve_scratch* scratch, int32_t* table) {
  end_hints(region, pos, scratch);
  int32_t found_table = -2;
  for (const int32_t candidate : judge->rebuild_tables()) {
    const rebuild_input in{page,
                           pos,
                           region.end,
                           judge->format_of(candidate),
                           &judge->rules(candidate),
                           settings.limits.usable,
                           settings.encoding,
                           settings.schema_format,
                           scratch->hints};
    rebuild_readings(in, &scratch->readings);
    carved_record chosen;
    if (!choose_reading(in, scratch->readings, &chosen)) {
      if (!scratch->readings.empty()) return false;  // open: not taken
      continue;
    }
    if (found_table != -2) return false;  // fits two tables
    found_table = candidate;
    scratch->record = std::move(chosen);
  }
  *table = found_table;
  return found_table >= 0;
}

// Takes the cell at pos: whole, or rebuilt when a freeblock header
// overwrote its start. After a record (not `first`) the next cell follows
// at once or past up to three fragment bytes.
bool take_cell_at(const carve_settings& settings, byte_view page, const page_region& region,
                  uint32_t pos, bool first, std::span<const cell_format> formats,
                  record_judge* judge, carve_scratch* scratch) {
  for (uint32_t g = 0; g <= (first ? 0u : 3u); ++g) {
    int32_t table = -2;
    if (!first) table = whole_cell_at(settings, page, pos + g, region.end, formats, judge, &scratch->record);
    if (table < -1 && pos + g + 5 <= region.end)
      rebuild_at(settings, page, region, pos + g, judge, scratch, &table);
    if (table < -1) continue;
    judge->found(scratch->record, table, region.kind);
    return true;
  }
  return false;
}

void carve_freeblock(const carve_settings& settings, byte_view page, const page_region& region,
                     std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  collect_anchors(settings, page, region, formats, judge, scratch);
  uint32_t pos = region.start;
  bool first = true;
  while (pos + 5 <= region.end) {
    if (take_cell_at(settings, page, region, pos, first, formats, judge, scratch)) {
      pos = scratch->record.end;
      first = false;
      continue;
    }
    // Nothing here: go on at the next whole cell.
    int32_t table = -2;
    for (uint32_t q = pos + 1; q + 3 <= region.end && table < -1; ++q)
      table = whole_cell_at(settings, page, q, region.end, formats, judge, &scratch->record);
    if (table < -1) return;
    judge->found(scratch->record, table, region.kind);
    pos = scratch->record.end;
    first = false;
  }
}

}  // namespace

void carve_region(const carve_settings& settings, byte_view page, const page_region& region,
                  std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  if (region.end > page.size() || region.start >= region.end) return;
  if (region.kind == region_kind::freeblock) {
    carve_freeblock(settings, page, region, formats, judge, scratch);
    return;
  }
  scan_whole_cells(settings, page, region.start, region, formats, judge, scratch);
}

void carve_old_cell(const carve_settings& settings, byte_view page, uint32_t offset, uint32_t hi,
                    cell_format format, record_judge* judge, carve_scratch* scratch) {
  if (!parse_whole_cell(page, offset, hi, format, settings.limits, &scratch->record)) return;
  const int32_t table = judge->judge(scratch->record, page);
  if (table >= -1) judge->found(scratch->record, table, region_kind::old_cell);
}
