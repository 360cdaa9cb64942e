#include "format/journal.h"

#include <algorithm>
#include <cstring>

#include "format/db_header.h"

namespace {

constexpr uint64_t lock_byte_offset = 0x40000000;
constexpr uint32_t scored_records = 16;  // records a candidate layout is judged by

struct layout {
  uint32_t sector = 0;
  uint32_t page = 0;
};

uint64_t record_size(const layout& l) { return uint64_t{l.page} + 8; }

bool sector_size_valid(uint32_t size) {
  return size >= 32 && size <= 65536 && (size & (size - 1)) == 0;
}

bool zero_bytes(byte_view bytes, uint64_t at, uint64_t n) {
  if (at > bytes.size() || bytes.size() - at < n) return false;
  return std::all_of(bytes.begin() + static_cast<ptrdiff_t>(at),
                     bytes.begin() + static_cast<ptrdiff_t>(at + n), [](uint8_t b) { return b == 0; });
}

// The header at `at`, if one begins there: one that names the layout's
// sector and page size (every header the library writes does) after the
// magic (synced), the magic with its first byte zeroed (stale), or magic and
// count still zero (unsynced).
bool header_at(byte_view j, uint64_t at, const layout& l, journal_header_state* state) {
  if (at > j.size() || j.size() - at < journal_header_fields) return false;
  if (be32_or_zero(j, at + 20) != l.sector || be32_or_zero(j, at + 24) != l.page) return false;
  if (memcmp(j.data() + at + 1, journal_magic + 1, 7) == 0 &&
      (j[at] == journal_magic[0] || j[at] == 0)) {
    *state = j[at] == 0 ? journal_header_state::stale : journal_header_state::synced;
    return true;
  }
  if (zero_bytes(j, at, 12)) {
    *state = journal_header_state::unsynced;
    return true;
  }
  return false;
}

// The record at o ends the walk: page 0, or the lock-byte page, where the
// library writes the super-journal's name.
bool ends_records(uint32_t page, const layout& l) {
  return page == 0 || page == lock_byte_offset / l.page + 1;
}

uint32_t stored_checksum(byte_view j, uint64_t record, const layout& l) {
  return be32_or_zero(j, record + 4 + l.page);
}

uint64_t round_up(uint64_t offset, uint32_t sector) {
  return (offset + sector - 1) / sector * sector;
}

// How well a layout fits the first records, laid out from one sector in:
// the later records that agree with the nonce (taken from the first record
// when not known), plus one when they end at a header naming the layout.
struct layout_fit {
  uint32_t agreeing = 0;
  bool header = false;
  uint32_t nonce = 0;
  uint32_t score() const { return agreeing + (header ? 1 : 0); }
};

layout_fit fit_layout(byte_view j, const layout& l, bool nonce_known, uint32_t nonce) {
  layout_fit fit;
  fit.nonce = nonce;
  uint64_t o = l.sector;
  const uint64_t size = record_size(l);
  for (uint32_t k = 0; k < scored_records; ++k, o += size) {
    journal_header_state state{};
    if (k > 0 && header_at(j, round_up(o, l.sector), l, &state)) {
      fit.header = true;
      break;
    }
    if (o > j.size() || j.size() - o < size || ends_records(be32_or_zero(j, o), l)) break;
    const uint32_t sum = journal_checksum(j.subspan(o + 4, l.page), 0);
    if (k == 0 && !nonce_known)
      fit.nonce = stored_checksum(j, o, l) - sum;
    else if (sum + fit.nonce == stored_checksum(j, o, l))
      ++fit.agreeing;
  }
  return fit;
}

// Chooses sector and page size when the first header does not give them:
// the candidate the first records fit best. Returns whether any fits; sets
// the segment's nonce when records confirm it.
bool search_layout(byte_view j, layout* l, bool sector_known, bool page_known,
                   journal_segment* seg) {
  layout_fit best;
  layout chosen = *l;
  for (uint32_t page = 512; page <= 65536; page *= 2) {
    if (page_known && page != l->page) continue;
    for (uint32_t sector = 512; sector <= 65536; sector *= 2) {
      if (sector_known && sector != l->sector) continue;
      const layout_fit fit = fit_layout(j, {sector, page}, seg->nonce_known, seg->nonce);
      if (fit.score() > best.score()) {
        best = fit;
        chosen = {sector, page};
      }
    }
  }
  if (best.score() == 0) return false;
  *l = chosen;
  if (!seg->nonce_known && best.agreeing > 0) {
    seg->nonce = best.nonce;
    seg->nonce_known = true;
  }
  return true;
}

struct walker {
  journal_file* out;
  layout l;
  uint32_t page_limit;
};

void add_record(walker* w, journal_segment* seg, uint64_t o) {
  const byte_view j = w->out->file;
  journal_record r{};
  r.segment = static_cast<uint32_t>(w->out->segments.size());
  r.page = be32_or_zero(j, o);
  r.page_known = r.page <= w->page_limit;
  if (!r.page_known) w->out->conditions |= journal_page_out_of_range;
  r.offset = o + 4;
  r.image = j.subspan(o + 4, w->l.page);
  r.checksum_ok =
      seg->nonce_known && journal_checksum(r.image, seg->nonce) == stored_checksum(j, o, w->l);
  if (seg->nonce_known && !r.checksum_ok) w->out->conditions |= journal_bad_checksum;
  w->out->records.push_back(r);
  ++seg->record_count;
}

// Reads the records of a segment from o, up to its count, or to the end
// when the count is not known; a header at the next sector boundary ends the
// segment either way. Returns the offset after the last record; *next is
// the offset of the header that follows, or 0 when none does.
uint64_t read_records(walker* w, journal_segment* seg, uint64_t o, uint64_t* next,
                      journal_header_state* next_state) {
  const byte_view j = w->out->file;
  const uint64_t size = record_size(w->l);
  const uint32_t short_count = seg->counted_to_end ? 0u : uint32_t{journal_count_exceeds_records};
  *next = 0;
  for (uint32_t k = 0; seg->counted_to_end || k < seg->count; ++k, o += size) {
    const uint64_t h = round_up(o, w->l.sector);
    if (header_at(j, h, w->l, next_state)) {
      w->out->conditions |= short_count;
      *next = h;
      return o;
    }
    if (o >= j.size() || j.size() - o < size) {
      if (o < j.size()) w->out->conditions |= journal_truncated;
      w->out->conditions |= short_count;
      return o;
    }
    if (ends_records(be32_or_zero(j, o), w->l)) {
      w->out->conditions |= short_count;
      break;
    }
    add_record(w, seg, o);
  }
  const uint64_t h = round_up(o, w->l.sector);
  if (header_at(j, h, w->l, next_state)) *next = h;
  return o;
}

journal_segment segment_at(byte_view j, uint64_t at, journal_header_state state,
                           uint32_t records_so_far) {
  journal_segment s{};
  s.offset = at;
  s.state = state;
  s.first_record = records_so_far;
  if (state == journal_header_state::zeroed) {
    s.counted_to_end = true;
    return s;
  }
  s.count = be32_or_zero(j, at + 8);
  s.nonce = be32_or_zero(j, at + 12);
  s.nonce_known = true;
  s.original_pages = be32_or_zero(j, at + 16);
  s.counted_to_end = state == journal_header_state::unsynced || s.count == 0 ||
                     s.count == journal_count_to_end;
  return s;
}

// The state of the first header, or false when the file does not begin with one.
bool first_header(byte_view j, journal_header_state* state) {
  if (memcmp(j.data(), journal_magic, 8) == 0) {
    *state = journal_header_state::synced;
  } else if (zero_bytes(j, 0, journal_header_fields)) {
    *state = journal_header_state::zeroed;
  } else if (zero_bytes(j, 0, 12)) {
    *state = journal_header_state::unsynced;
  } else {
    return false;
  }
  return true;
}

// Settles sector and page size from the first header, the database's page
// size and, where those fall short, a search. False when no page size can be
// had at all.
bool settle_layout(journal_file* jf, journal_header_state state, uint32_t db_page_size,
                   layout* l, journal_segment* first) {
  const byte_view j = jf->file;
  const bool zeroed = state == journal_header_state::zeroed;
  const uint32_t sector = be32_or_zero(j, 20), page = be32_or_zero(j, 24);
  bool sector_known = !zeroed && sector_size_valid(sector);
  bool page_known = !zeroed && page_size_valid(page);
  if (!zeroed && !sector_known) jf->conditions |= journal_bad_sector_size;
  if (!zeroed && !page_known) jf->conditions |= journal_bad_page_size;
  if (page_known && db_page_size != 0 && page != db_page_size)
    jf->conditions |= journal_page_size_differs;
  l->sector = sector_known ? sector : 512;
  l->page = page_known ? page : 0;
  if (!page_known && page_size_valid(db_page_size)) {
    l->page = db_page_size;
    page_known = true;
  }
  if (sector_known && page_known) return true;
  if (search_layout(j, l, sector_known, page_known, first)) return true;
  jf->conditions |= journal_unverified;
  return page_known;
}

}  // namespace

uint32_t journal_checksum(byte_view image, uint32_t nonce) {
  uint32_t sum = nonce;
  for (uint64_t i = image.size() >= 200 ? image.size() - 200 : 0; i > 0; i -= std::min<uint64_t>(i, 200))
    sum += image[i];
  return sum;
}

journal_file read_journal(byte_view journal, uint32_t db_page_size, uint32_t page_limit) {
  journal_file jf;
  jf.file = journal;
  journal_header_state state{};
  if (journal.size() < journal_header_fields) {
    jf.conditions |= journal_empty;
    jf.tail = journal;
    return jf;
  }
  if (!first_header(journal, &state)) {
    jf.conditions |= journal_bad_magic;
    jf.tail = journal;
    return jf;
  }
  if (state == journal_header_state::zeroed) jf.conditions |= journal_zeroed_header;
  if (state == journal_header_state::unsynced) jf.conditions |= journal_unsynced_header;
  journal_segment seg = segment_at(journal, 0, state, 0);
  walker w{&jf, {}, page_limit};
  if (!settle_layout(&jf, state, db_page_size, &w.l, &seg)) {
    jf.tail_offset = std::min<uint64_t>(512, journal.size());
    jf.tail = journal.subspan(jf.tail_offset);
    return jf;
  }
  jf.sector_size = w.l.sector;
  jf.page_size = w.l.page;
  uint64_t at = 0, end = 0;
  for (;;) {
    uint64_t next = 0;
    journal_header_state next_state{};
    end = read_records(&w, &seg, at + w.l.sector, &next, &next_state);
    jf.segments.push_back(seg);
    if (next == 0) break;
    if (next_state == journal_header_state::stale) jf.conditions |= journal_stale_segment;
    at = next;
    seg = segment_at(journal, at, next_state, static_cast<uint32_t>(jf.records.size()));
  }
  jf.tail_offset = std::min<uint64_t>(std::max(end, uint64_t{w.l.sector}), journal.size());
  jf.tail = journal.subspan(jf.tail_offset);
  return jf;
}
