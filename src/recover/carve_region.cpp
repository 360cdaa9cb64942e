#include "recover/carve_region.h"

#include <algorithm>
#include <cstring>

namespace {

// A record ends at one of the first boundaries after its start; only that
// many of each kind are offered, so that a page whose bytes read as
// boundaries everywhere (made up, or random) costs no more than its size
// times this.
constexpr ptrdiff_t max_boundaries = 32;

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

// Whether the four bytes at q can be the header of a freeblock that once
// began there: a link of 0 or past the block, a size that fits the page.
bool old_freeblock_header(const carve_settings& settings, byte_view page, uint32_t q,
                          uint32_t* size) {
  const uint32_t next = be16_or_zero(page, q);
  *size = be16_or_zero(page, q + 2);
  const uint32_t usable = settings.limits.usable;
  return *size >= 6 && q + *size <= usable && (next == 0 || (next >= q + *size && next < usable));
}

// Whether the bytes at q are the header of a freeblock of four or five
// bytes that ends at `end`: too small to be told from chance anywhere else,
// it stands where its recorded size lands on a boundary.
bool tiny_block_at(byte_view page, uint32_t q, uint32_t end) {
  const uint32_t next = be16_or_zero(page, q);
  return be16_or_zero(page, q + 2) == end - q && (next == 0 || next >= end);
}

// Finds, up to `up_to`, the positions of the region being searched where a
// whole cell begins (a record rebuilt before one may end there) and where
// an old freeblock header may stand, going on from where the last call
// stopped, so that each position is read once.
void collect_anchors(const carve_settings& settings, byte_view page,
                     std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch,
                     uint32_t up_to) {
  const page_region& outer = scratch->outer;
  up_to = std::min(up_to, outer.end);
  for (uint32_t q = scratch->anchored_until; q < up_to; ++q) {
    uint32_t size = 0;
    if (q + 3 <= outer.end && whole_cell_at(settings, page, q, outer.end, formats, judge, &scratch->probe) >= -1)
      scratch->anchors.push_back(q);
    else if (q + 4 <= outer.end && old_freeblock_header(settings, page, q, &size))
      scratch->old_headers.push_back({q + size, q});
  }
  scratch->anchored_until = std::max(scratch->anchored_until, up_to);
}

// Whether a whole cell found so far begins after pos and before `end`.
bool cell_between(const carve_scratch& scratch, uint32_t pos, uint32_t end) {
  const auto cell = std::upper_bound(scratch.anchors.begin(), scratch.anchors.end(), pos);
  return cell != scratch.anchors.end() && *cell < end;
}

// Whether an old freeblock header or a whole cell begins after pos and
// before `end`.
bool boundary_between(const carve_scratch& scratch, uint32_t pos, uint32_t end) {
  if (cell_between(scratch, pos, end)) return true;
  const auto header = std::upper_bound(scratch.old_headers.begin(), scratch.old_headers.end(), pos,
                                       [](uint32_t p, const auto& h) { return p < h.second; });
  return header != scratch.old_headers.end() && header->second < end;
}

// Whether a whole cell or an old freeblock header begins at `at`.
bool boundary_at(const carve_scratch& scratch, uint32_t at) {
  if (std::binary_search(scratch.anchors.begin(), scratch.anchors.end(), at)) return true;
  const auto header = std::lower_bound(scratch.old_headers.begin(), scratch.old_headers.end(), at,
                                       [](const auto& h, uint32_t p) { return h.second < p; });
  return header != scratch.old_headers.end() && header->second == at;
}

// Whether a live cell of the page begins at `at`.
bool live_cell_at(carve_scratch* scratch, uint32_t at) {
  if (!scratch->live_starts_read) {
    const byte_view p = scratch->live_pointers;
    std::vector<uint32_t>& starts = scratch->live_starts;
    for (size_t i = 0; i + 2 <= p.size(); i += 2) starts.push_back(load_be16(p.data() + i));
    // Cells added in key order lie in falling offsets: reversed, they are sorted.
    if (std::is_sorted(starts.rbegin(), starts.rend())) std::reverse(starts.begin(), starts.end());
    else std::sort(starts.begin(), starts.end());
    scratch->live_starts_read = true;
  }
  return std::binary_search(scratch->live_starts.begin(), scratch->live_starts.end(), at);
}

// Where a later write overwrote the whole cell at pos..end, 0 when nowhere:
// a whole cell that begins inside it (the library takes a new cell from the
// end of a freeblock), or, in an index cell (a short key, no long values
// whose bytes read as headers by chance), an old freeblock header inside it
// whose block ends at a boundary (a cell freed later, its first bytes a
// header).
uint32_t overwritten_from(const carve_settings& settings, byte_view page, uint32_t pos, uint32_t end,
                          cell_format format, std::span<const cell_format> formats, record_judge* judge,
                          carve_scratch* scratch) {
  collect_anchors(settings, page, formats, judge, scratch, end);
  const auto inner = std::upper_bound(scratch->anchors.begin(), scratch->anchors.end(), pos);
  uint32_t cut = inner != scratch->anchors.end() && *inner < end ? *inner : 0;
  if (format != cell_format::index) return cut;
  const uint32_t outer_end = scratch->outer.end;
  // By index: collecting further anchors adds old headers. The headers
  // are in page order; the first after pos is found by halving.
  const auto first = std::upper_bound(scratch->old_headers.begin(), scratch->old_headers.end(), pos,
                                      [](uint32_t p, const auto& h) { return p < h.second; });
  const size_t from = static_cast<size_t>(first - scratch->old_headers.begin());
  for (size_t i = from; i < scratch->old_headers.size() && i < from + static_cast<size_t>(max_boundaries); ++i) {
    const auto [block_end, at] = scratch->old_headers[i];
    if (at >= (cut != 0 ? cut : end)) break;
    if (block_end < end || block_end > outer_end) continue;
    if (block_end < outer_end) collect_anchors(settings, page, formats, judge, scratch, block_end + 1);
    if (block_end == outer_end || boundary_at(*scratch, block_end)) {
      cut = at;
      break;
    }
  }
  return cut;
}

// A whole cell at pos that ends before hi, judged a row: only where the
// search of the region found one (a cell that ends before hi ends before
// the region's end too).
int32_t anchored_cell_at(const carve_settings& settings, byte_view page, uint32_t pos, uint32_t hi,
                         std::span<const cell_format> formats, record_judge* judge,
                         carve_scratch* scratch) {
  collect_anchors(settings, page, formats, judge, scratch, pos + 1);
  if (!std::binary_search(scratch->anchors.begin(), scratch->anchors.end(), pos)) return -2;
  const int32_t table = whole_cell_at(settings, page, pos, hi, formats, judge, &scratch->record);
  if (table < -1) return table;
  carved_record& rec = scratch->record;
  const uint32_t cut = overwritten_from(settings, page, pos, rec.end, rec.format, formats, judge, scratch);
  if (cut != 0) {
    rec.cut_at = cut;
    rec.end = cut;
  }
  return table;
}

// A cell at pos whose header and first value lie before hi while its bytes
// run on past it: a later cell took the rest. It is kept, cut at hi, when
// its values before hi fit a table.
int32_t cut_cell_at(const carve_settings& settings, byte_view page, uint32_t pos, uint32_t hi,
                    std::span<const cell_format> formats, record_judge* judge, carved_record* rec) {
  // A cell whose payload ends before hi would have been read whole.
  uint64_t at = pos, payload = 0;
  if (!read_varint(page.first(hi), &at, &payload) || at + payload + 9 <= hi) return -2;
  for (const cell_format format : formats) {
    if (!parse_whole_cell(page, pos, settings.limits.usable, format, settings.limits, rec) || rec->end <= hi ||
        rec->fields.empty() || rec->record_start + rec->header_size + rec->fields[0].size > hi)
      continue;
    rec->cut_at = hi;
    rec->end = hi;
    rec->overflow_page = 0;
    const int32_t table = judge->judge(*rec, page);
    if (table >= 0) return table;
  }
  return -2;
}

// The first position from `from` on where a cell cut at the region's end
// begins, 0 when there is none; remembered for the searches after.
uint32_t first_cut_cell(const carve_settings& settings, byte_view page, uint32_t from,
                        std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  if (scratch->cut_from != UINT32_MAX && from >= scratch->cut_from &&
      (scratch->cut_start == 0 || scratch->cut_start >= from))
    return scratch->cut_start;
  const uint32_t end = scratch->outer.end;
  uint32_t found = 0;
  for (uint32_t q = from; q + 3 <= end && found == 0; ++q)
    if (cut_cell_at(settings, page, q, end, formats, judge, &scratch->probe) >= 0) found = q;
  scratch->cut_from = from;
  scratch->cut_start = found;
  return found;
}

// Offers `a` as an end of the record at pos, and the slack bytes before it
// (fragment bytes between a record and what follows), within the block.
void add_end(byte_view page, const page_region& block, uint32_t pos, uint32_t a, uint32_t slack,
             carve_scratch* scratch) {
  if (a > block.end || a < pos + 5) return;
  scratch->exact.push_back(a);
  for (uint32_t g = 0; g <= slack; ++g) {
    if (a < pos + 5 + g) break;
    scratch->hints.push_back(a - g);
  }
  // A freeblock of four or five bytes (the smallest the library makes)
  // before the boundary: its header records exactly that size.
  for (uint32_t k = 4; k <= 5; ++k)
    if (a >= pos + 5 + k && tiny_block_at(page, a - k, a)) {
      scratch->exact.push_back(a - k);
      scratch->hints.push_back(a - k);
    }
}

// Offers the old headers after pos whose blocks end at a boundary: the
// block's end, the end own_end of the block pos heads, a boundary inside
// the block, or, past it, a live cell, the page's end or the end of two or
// more others (the library takes a new cell from a block's end: the
// headers of the cells merged into the block still end together there).
void add_old_header_ends(const carve_settings& settings, byte_view page, const page_region& block,
                         uint32_t pos, uint32_t own_end, carve_scratch* scratch) {
  std::vector<uint32_t>& past = scratch->past_ends;
  past.clear();
  const auto inside = std::upper_bound(scratch->old_headers.begin(), scratch->old_headers.end(), pos,
                                       [](uint32_t p, const auto& h) { return p < h.second; });
  const auto headers_end = inside + std::min(max_boundaries, scratch->old_headers.end() - inside);
  for (auto it = inside; it != headers_end && it->second <= block.end; ++it)
    if (it->first > block.end) past.push_back(it->first);
  std::sort(past.begin(), past.end());
  const auto agreed = [&](uint32_t end) {
    const auto [lo, hi] = std::equal_range(past.begin(), past.end(), end);
    return hi - lo >= 2;
  };
  for (auto it = inside; it != headers_end && it->second <= block.end; ++it)
    if (it->first == block.end || it->first == own_end ||
        (it->first > block.end &&
         (agreed(it->first) || live_cell_at(scratch, it->first) || it->first == settings.limits.usable)) ||
        (it->first < block.end && boundary_at(*scratch, it->first)))
      add_end(page, block, pos, it->second, 3, scratch);
}

// Where the record rebuilt at pos may end: before a later whole cell, less
// up to three fragment bytes between them; at the block's end exactly (the
// library merges a freed cell with a freeblock that follows within three
// bytes, so a block ends where its last cell ended); before an old header
// whose block ended at a boundary (add_old_header_ends); at the end of the
// block that an old freeblock header at pos itself gives (the cell was that
// block's first when it was freed). When that block holds no other
// boundary, the header was written with the cell's own size: the record
// ends there and nowhere else. With with_cut, also where a cell that a
// later one cut at the region's end begins.
void end_hints(const carve_settings& settings, byte_view page, const page_region& block,
               uint32_t pos, std::span<const cell_format> formats, record_judge* judge,
               carve_scratch* scratch, bool with_cut) {
  collect_anchors(settings, page, formats, judge, scratch, block.end);
  scratch->hints.clear();
  scratch->exact.clear();
  uint32_t size = 0;
  const bool own_header = old_freeblock_header(settings, page, pos, &size);
  // The block an old header at pos heads may reach past the region (the
  // content area grew back over its start); the headers of the cells
  // merged into it end where it ends.
  const uint32_t own_end = own_header ? pos + size : block.end;
  // A cell that a later cell cut at the region's end begins where a record
  // before it may end.
  const uint32_t cut_start = with_cut ? first_cut_cell(settings, page, pos + 5, formats, judge, scratch) : 0;
  if (own_header && own_end <= block.end && !boundary_between(*scratch, pos, own_end) &&
      (cut_start == 0 || cut_start >= own_end)) {
    add_end(page, block, pos, own_end, 0, scratch);
    return;
  }
  const auto first_anchor = std::upper_bound(scratch->anchors.begin(), scratch->anchors.end(), pos);
  const auto anchors_end = first_anchor + std::min(max_boundaries, scratch->anchors.end() - first_anchor);
  for (auto it = first_anchor; it != anchors_end && *it <= block.end; ++it)
    add_end(page, block, pos, *it, 3, scratch);
  if (cut_start != 0) add_end(page, block, pos, cut_start, 3, scratch);
  add_old_header_ends(settings, page, block, pos, own_end, scratch);
  add_end(page, block, pos, block.end, 0, scratch);
  add_end(page, block, pos, own_end, 0, scratch);
}

// Whether a chosen reading is still not to be trusted: a lost type's size
// was stretched to a later end over the start of a whole cell, or it ends
// short of what follows it while its header-size byte was lost (a header
// read one byte off then ends a few bytes early as well). Not a reading
// whose payload fills its free chain exactly: one read off would not.
bool doubtful(const carved_record& r, uint32_t pos, const carve_scratch& scratch) {
  if (r.chain_settled) return false;
  const auto inside = std::upper_bound(scratch.anchors.begin(), scratch.anchors.end(), pos);
  if (r.end_settled && inside != scratch.anchors.end() && *inside < r.end) return true;
  const bool exact = std::find(scratch.exact.begin(), scratch.exact.end(), r.end) != scratch.exact.end();
  return !exact && r.record_start < pos + 4;
}

// Whether a reading fills exactly the block that the cell's own old
// freeblock header gives, with every type known: the header was written
// with the cell's size, and the reading owes nothing to a guessed end.
bool own_block_reading(const carve_settings& settings, byte_view page, uint32_t pos, const carved_record& r) {
  uint32_t size = 0;
  return old_freeblock_header(settings, page, pos, &size) && pos + size == r.end && !r.inferred &&
         !r.end_settled && all_types_known(r);
}

// What rebuilding the cell at pos as one of `candidate`'s needs: the block
// it must start in, the table's rules, and the ends end_hints found.
rebuild_input input_for(const carve_settings& settings, byte_view page, const page_region& block, uint32_t pos,
                        record_judge* judge, int32_t candidate, const carve_scratch& scratch) {
  return {page, pos, block.end, judge->format_of(candidate), &judge->rules(candidate), settings.limits.usable,
          settings.encoding, settings.schema_format, scratch.hints, scratch.exact, judge->chains()};
}

// The table of the one reading of the cell at pos that the hints admit
// (>= 0); -2 when no table gives a reading, -3 when the choice stays open
// or is doubtful, -4 when readings exist but none ends at a hint.
int32_t read_at_hints(const carve_settings& settings, byte_view page, const page_region& block,
                      uint32_t pos, record_judge* judge, carve_scratch* scratch) {
  int32_t found_table = -2;
  bool unanchored = false, sealed = false;
  for (const int32_t candidate : judge->rebuild_tables()) {
    const rebuild_input in = input_for(settings, page, block, pos, judge, candidate, *scratch);
    rebuild_readings(in, &scratch->readings);
    carved_record chosen;
    const bool any_at_hint = std::any_of(scratch->readings.begin(), scratch->readings.end(), [&](const carved_record& r) {
      return r.chain_settled || std::find(scratch->hints.begin(), scratch->hints.end(), r.end) != scratch->hints.end();
    });
    if (!choose_reading(in, scratch->readings, &chosen)) {
      if (any_at_hint) return -3;  // open: not taken
      unanchored = unanchored || !scratch->readings.empty();
      continue;
    }
    if (doubtful(chosen, pos, *scratch) || found_table != -2) return -3;  // or fits two tables
    found_table = candidate;
    sealed = own_block_reading(settings, page, pos, chosen);
    scratch->record = std::move(chosen);
  }
  // Readings of other tables that end at no boundary are chance, unless the
  // one taken could be chance too.
  if (unanchored && !(found_table >= 0 && sealed)) return -4;
  return found_table;
}

// The table of the one reading, over all tables, of a cell at pos whose
// types all survive and that runs on past the block's end, where a live
// cell took the rest; -2 when there is none or more than one.
int32_t read_cut_at(const carve_settings& settings, byte_view page, const page_region& block,
                    uint32_t pos, record_judge* judge, carve_scratch* scratch) {
  int32_t found_table = -2;
  for (const int32_t candidate : judge->rebuild_tables()) {
    rebuild_input in = input_for(settings, page, block, pos, judge, candidate, *scratch);
    in.cut_at_hi = true;
    rebuild_readings(in, &scratch->readings);
    if (scratch->readings.empty()) continue;
    if (scratch->readings.size() > 1 || found_table != -2) return -2;
    found_table = candidate;
    scratch->record = std::move(scratch->readings.front());
  }
  return found_table;
}

// Rebuilds the cell whose first four bytes are lost at pos, trying every
// table the page may hold; true when exactly one table gives one reading.
// Where no reading ends at a boundary, a cell that a later one cut at the
// region's end is looked for as one more boundary.
bool rebuild_at(const carve_settings& settings, byte_view page, const page_region& block,
                uint32_t pos, std::span<const cell_format> formats, record_judge* judge,
                carve_scratch* scratch, int32_t* table) {
  end_hints(settings, page, block, pos, formats, judge, scratch, false);
  int32_t found = read_at_hints(settings, page, block, pos, judge, scratch);
  if ((found == -2 || found == -4) && scratch->cut_tails && block.end == scratch->outer.end) {
    end_hints(settings, page, block, pos, formats, judge, scratch, true);
    found = read_at_hints(settings, page, block, pos, judge, scratch);
  }
  if (found == -2 && scratch->cut_tails && block.end == scratch->outer.end && live_cell_at(scratch, block.end))
    found = read_cut_at(settings, page, block, pos, judge, scratch);
  *table = found;
  return found >= 0;
}

// Whether the rebuilt reading in scratch->record, begun at pos, runs over a
// whole cell: the exact reading is then the one to take (it is looked for
// from the next byte on), not a guess that swallows it.
bool swallows_whole_cell(const carve_settings& settings, byte_view page, uint32_t pos,
                         std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  collect_anchors(settings, page, formats, judge, scratch, scratch->record.end);
  return cell_between(*scratch, pos, scratch->record.end);
}

// Takes the cell at pos: whole, or rebuilt when a freeblock header
// overwrote its start. After a record (not `first`) the next cell follows
// at once or past up to three fragment bytes; it is whole (the library
// merged it into the block before it and left its bytes alone) or begins
// with the header of the block it once headed.
bool take_cell_at(const carve_settings& settings, byte_view page, const page_region& block,
                  uint32_t pos, bool first, std::span<const cell_format> formats,
                  record_judge* judge, carve_scratch* scratch) {
  for (uint32_t g = 0; g <= (first ? 0u : 3u); ++g) {
    int32_t table = -2;
    if (!first) table = anchored_cell_at(settings, page, pos + g, block.end, formats, judge, scratch);
    uint32_t size = 0;
    if (table < -1 && pos + g + 5 <= block.end &&
        (first || old_freeblock_header(settings, page, pos + g, &size)) &&
        rebuild_at(settings, page, block, pos + g, formats, judge, scratch, &table) &&
        swallows_whole_cell(settings, page, pos + g, formats, judge, scratch))
      table = -2;
    if (table < -1) continue;
    judge->found(scratch->record, table, scratch->outer.kind);
    return true;
  }
  return false;
}

// Looks for a cell cut at the region's end, from `from` on.
void take_cut_cell(const carve_settings& settings, byte_view page, uint32_t from,
                   std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  const page_region& region = scratch->outer;
  if (!scratch->cut_tails) return;
  for (uint32_t q = from; q + 3 <= region.end; ++q) {
    const int32_t table = cut_cell_at(settings, page, q, region.end, formats, judge, &scratch->record);
    if (table < 0) continue;
    judge->found(scratch->record, table, region.kind);
    return;
  }
}

// Reads a block that a freeblock header heads (the current one, or an old
// one left in other free space) record after record. Returns where it
// stopped; with need_first, 0 when nothing could be read at its start.
uint32_t carve_block(const carve_settings& settings, byte_view page, const page_region& block,
                     std::span<const cell_format> formats, record_judge* judge,
                     carve_scratch* scratch, bool need_first) {
  uint32_t pos = block.start;
  bool first = true;
  while (pos + 5 <= block.end) {
    if (take_cell_at(settings, page, block, pos, first, formats, judge, scratch)) {
      pos = scratch->record.end;
      first = false;
      continue;
    }
    if (first && need_first) return 0;
    // Nothing here: go on at the next whole cell, or the next cell that
    // begins with the old freeblock header of its own block.
    // The header must end its block at a boundary: bytes that merely read
    // as a header end anywhere.
    int32_t table = -2;
    for (uint32_t q = pos + 1; q + 3 <= block.end && table < -1; ++q) {
      table = anchored_cell_at(settings, page, q, block.end, formats, judge, scratch);
      uint32_t size = 0;
      if (table >= -1 || q + 5 > block.end || !old_freeblock_header(settings, page, q, &size)) continue;
      const uint32_t end = q + size;
      if (end < block.end) collect_anchors(settings, page, formats, judge, scratch, end + 1);
      if (end == block.end || end == scratch->outer.end || (end < block.end && boundary_at(*scratch, end)))
        rebuild_at(settings, page, block, q, formats, judge, scratch, &table);
    }
    if (table < -1) {
      if (block.end == scratch->outer.end) take_cut_cell(settings, page, pos, formats, judge, scratch);
      return block.end;
    }
    judge->found(scratch->record, table, scratch->outer.kind);
    pos = scratch->record.end;
    first = false;
  }
  return std::max(pos, block.start + 1);
}

// Whether an old header at pos is a misreading of one that begins within
// its four bytes: the later one's block ends at a boundary (the region's
// end, a whole cell, an old header) and this one's does not. Zero bytes
// before a real header read as a header of their own.
bool shadowed_header(const carve_settings& settings, byte_view page, uint32_t pos, uint32_t size,
                     std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  const page_region& region = scratch->outer;
  const auto lands = [&](uint32_t end) {
    if (end == region.end) return true;
    if (end > region.end) return false;
    collect_anchors(settings, page, formats, judge, scratch, end + 1);
    return boundary_at(*scratch, end);
  };
  if (lands(pos + size)) return false;
  for (uint32_t d = 1; d < 4 && pos + d + 5 <= region.end; ++d) {
    uint32_t later = 0;
    if (old_freeblock_header(settings, page, pos + d, &later) && lands(pos + d + later)) return true;
  }
  return false;
}

// Searches every position for whole cells, and for blocks that an old
// freeblock header still heads (free space that a freeblock once held keeps
// the headers of the cells freed into it).
void scan_region(const carve_settings& settings, byte_view page, std::span<const cell_format> formats,
                 record_judge* judge, carve_scratch* scratch) {
  const page_region& region = scratch->outer;
  uint32_t last_end = region.start;  // where the last record found ended
  for (uint32_t pos = region.start; pos + 3 <= region.end;) {
    const int32_t table = anchored_cell_at(settings, page, pos, region.end, formats, judge, scratch);
    if (table >= -1) {
      judge->found(scratch->record, table, region.kind);
      pos = last_end = scratch->record.end;
      continue;
    }
    uint32_t size = 0;
    if (pos + 5 <= region.end && old_freeblock_header(settings, page, pos, &size) &&
        !shadowed_header(settings, page, pos, size, formats, judge, scratch)) {
      const page_region block{pos, std::min(pos + size, region.end), region.kind};
      const uint32_t reached = carve_block(settings, page, block, formats, judge, scratch, true);
      if (reached != 0) {
        pos = last_end = reached;
        continue;
      }
    }
    ++pos;
  }
  if (last_end < region.end) take_cut_cell(settings, page, last_end, formats, judge, scratch);
}

// Zeroed space (never written, or wiped) holds no record.
bool all_zero(byte_view bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    memcpy(&word, bytes.data() + i, 8);
    if (word != 0) return false;
  }
  for (; i < bytes.size(); ++i)
    if (bytes[i] != 0) return false;
  return true;
}

}  // namespace

void carve_region(const carve_settings& settings, byte_view page, const page_region& region,
                  std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch) {
  if (region.end > page.size() || region.start >= region.end) return;
  if (region.kind != region_kind::freeblock &&
      all_zero(page.subspan(region.start, region.end - region.start)))
    return;
  scratch->outer = region;
  scratch->anchored_until = region.start;
  scratch->anchors.clear();
  scratch->old_headers.clear();
  scratch->cut_from = UINT32_MAX;
  scratch->cut_start = 0;
  if (region.kind == region_kind::freeblock) {
    carve_block(settings, page, region, formats, judge, scratch, false);
    return;
  }
  scan_region(settings, page, formats, judge, scratch);
}

void carve_old_cell(const carve_settings& settings, byte_view page, uint32_t offset, uint32_t hi,
                    cell_format format, record_judge* judge, carve_scratch* scratch) {
  if (!parse_whole_cell(page, offset, hi, format, settings.limits, &scratch->record)) return;
  const int32_t table = judge->judge(scratch->record, page);
  if (table >= -1) judge->found(scratch->record, table, region_kind::old_cell);
}
