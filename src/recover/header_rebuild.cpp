#include "recover/header_rebuild.h"

#include <algorithm>

#include "recover/cell_parse.h"
#include "format/cell.h"
#include "format/local_payload.h"
#include "format/overflow.h"
#include "format/record.h"
#include "format/serial_type.h"

namespace {

// A serial type lost with the overwritten bytes: one byte, or the first of
// two whose second byte (low7) survived.
struct lost_type {
  uint32_t bytes;
  uint32_t low7;
};

bool serial_matches_layout(uint64_t serial, const lost_type& lost) {
  if (lost.bytes == 1) return serial < 128;
  return serial >= 128 && serial < 16384 && (serial & 0x7F) == lost.low7;
}

// The serial types whose values take `size` bytes.
int serials_of_size(uint64_t size, uint64_t* out) {
  int n = 0;
  switch (size) {
    case 0: out[n++] = 0; out[n++] = 8; out[n++] = 9; break;
    case 1: case 2: case 3: case 4: out[n++] = size; break;
    case 6: out[n++] = 5; break;
    case 8: out[n++] = 6; out[n++] = 7; break;
    default: break;
  }
  out[n++] = 12 + 2 * size;
  out[n++] = 13 + 2 * size;
  return n;
}

// Whether the bytes of the prefix that survive (from pos + 4 to the record)
// can be the tail of a payload-length varint of lp bytes encoding `payload`
// followed by a rowid varint (table cells).
bool prefix_consistent(const rebuild_input& in, uint32_t length, uint32_t lp, uint64_t payload) {
  const uint32_t first_known = 4;
  for (uint32_t i = first_known; i < length; ++i) {
    const uint8_t byte = in.page[in.pos + i];
    if (i < lp) {
      // A payload-length byte: 7 bits each, high bit on all but the last.
      const uint32_t shift = 7 * (lp - 1 - i);
      const uint8_t expected =
          static_cast<uint8_t>(((payload >> shift) & 0x7F) | (i + 1 < lp ? 0x80 : 0));
      if (byte != expected) return false;
      continue;
    }
    const uint32_t rowid_length = length - lp;
    const uint32_t k = i - lp;  // index within the rowid varint
    const bool last = k + 1 == rowid_length;
    if (rowid_length == 9 && last) continue;  // a ninth byte takes all 8 bits
    if (last != ((byte & 0x80) == 0)) return false;
  }
  return true;
}

// The rowid when all its bytes survive.
bool surviving_rowid(const rebuild_input& in, uint32_t lp, uint32_t length, int64_t* rowid) {
  if (lp < 4) return false;
  uint64_t at = in.pos + lp;
  uint64_t value = 0;
  if (!read_varint(in.page.first(in.pos + length), &at, &value) || at != in.pos + length) return false;
  *rowid = static_cast<int64_t>(value);
  return true;
}

// The header and the values' sizes added up; false when the sum would wrap
// (lost or hostile serial types can claim sizes near 2^63).
bool sum_sizes(const carved_record& rec, size_t skip, uint64_t* sum) {
  uint64_t total = rec.header_size;
  for (size_t i = 0; i < rec.fields.size(); ++i) {
    if (i == skip) continue;
    if (rec.fields[i].size > UINT64_MAX - total) return false;
    total += rec.fields[i].size;
  }
  *sum = total;
  return true;
}

bool fields_fit(const rebuild_input& in, const carved_record& rec) {
  uint64_t at = rec.header_size;
  for (size_t i = 0; i < rec.fields.size(); ++i) {
    const carved_field& f = rec.fields[i];
    const bool local = at + f.size <= rec.local_size &&
                       (rec.cut_at == 0 || rec.record_start + at + f.size <= rec.cut_at);
    if (f.type_known) {
      const byte_view data = local ? in.page.subspan(rec.record_start + at, f.size) : byte_view{};
      if (!value_fits(in.rules->fields[i], f.serial, data, local, in.encoding, in.schema_format))
        return false;
    }
    at += f.size;
  }
  return true;
}

// A reading cut where a later cell begins (at in.hi): it runs on past hi,
// within the page, its types all survive and its first value lies before
// hi.
bool cut_reading(const rebuild_input& in, uint64_t payload, uint32_t local, uint64_t end,
                 carved_record* rec) {
  const uint64_t local_end = end + (local < payload ? overflow_link_size : 0);
  if (end <= in.hi || local_end > std::min<uint64_t>(in.usable, in.page.size()) || rec->fields.empty() ||
      rec->record_start + rec->header_size + rec->fields[0].size > in.hi)
    return false;
  if (!all_types_known(*rec)) return false;
  rec->cut_at = in.hi;
  return true;
}

// Completes a reading whose sizes are all known; appends it when it fits.
void finish_reading(const rebuild_input& in, carved_record& rec, uint32_t length,
                    std::vector<carved_record>* out, uint32_t must_end = 0) {
  uint64_t payload = 0;
  if (!sum_sizes(rec, rec.fields.size(), &payload)) return;
  const bool table = in.format == cell_format::table;
  const uint32_t lp = varint_length(payload);
  if (table ? (length <= lp || length - lp > 9) : length != lp) return;
  if (!prefix_consistent(in, length, table ? lp : length, payload)) return;
  const uint32_t local = local_payload_size(payload, in.usable, table);
  uint64_t end = uint64_t{rec.record_start} + local;
  uint32_t overflow = 0;
  if (in.cut_at_hi) {
    if (!cut_reading(in, payload, local, end, &rec)) return;
    end = in.hi;
  } else if (local < payload) {
    uint64_t next = 0;
    if (!read_be(in.page.first(in.hi), end, 4, &next) || next == 0) return;
    overflow = static_cast<uint32_t>(next);
    end += 4;
  }
  if (end > in.hi || (must_end != 0 && end != must_end)) return;
  rec.format = in.format;
  rec.cell_start = in.pos;
  rec.end = static_cast<uint32_t>(end);
  rec.payload_size = payload;
  rec.local_size = local;
  rec.overflow_page = overflow;
  rec.rebuilt = true;
  rec.has_rowid = table && surviving_rowid(in, lp, length, &rec.rowid);
  if (!fields_fit(in, rec)) return;
  out->push_back(rec);
}

// The serial type of a lost type whose value takes `size` bytes of `data`:
// the column's own storage class first, the others it can hold only when
// that gives nothing. Returns how many types fit (the one chosen when 1).
int type_of_size(const rebuild_input& in, const field_rule& rule, const lost_type& lost, uint64_t size,
                 byte_view data, uint64_t* chosen) {
  uint64_t serials[8];
  const int n = serials_of_size(size, serials);
  int fitting = 0;
  for (int pass = 0; pass < 2 && fitting == 0; ++pass) {
    for (int k = 0; k < n; ++k) {
      if (!serial_matches_layout(serials[k], lost)) continue;
      if (pass == 0 && !natural_class(rule, serials[k])) continue;
      if (!value_fits(rule, serials[k], data, true, in.encoding, in.schema_format)) continue;
      ++fitting;
      *chosen = serials[k];
    }
  }
  return fitting;
}

// Settles the one lost type whose size the header does not give, from each
// place where the record may end.
void settle_by_end(const rebuild_input& in, const carved_record& rec, size_t field,
                   const lost_type& lost, uint32_t length, std::vector<carved_record>* out) {
  if (in.cut_at_hi) return;  // a cut record has no end to settle by
  uint64_t known = 0;
  if (!sum_sizes(rec, field, &known) || known > in.hi) return;
  carved_record reading;
  for (const uint32_t end : in.end_hints) {
    if (end < rec.record_start + known) continue;
    const uint64_t size = end - rec.record_start - known;
    if (rec.record_start + known + size > in.hi) continue;
    assign_record(&reading, rec);
    reading.fields[field].size = size;
    // The value's bytes decide between the types of its size.
    const uint64_t at = rec.record_start + field_offset(reading, field);
    uint64_t chosen = 0;
    const int fitting = type_of_size(in, in.rules->fields[field], lost, size, in.page.subspan(at, size), &chosen);
    if (fitting == 0) continue;
    reading.fields[field].serial = chosen;
    reading.fields[field].type_known = fitting == 1;
    reading.end_settled = true;
    finish_reading(in, reading, length, out, end);
  }
}

// Whether the values of a reading that lie past its local part fit their
// columns, read from the payload's overflow data.
bool overflow_fields_fit(const rebuild_input& in, const carved_record& rec, byte_view overflow) {
  std::vector<uint8_t> payload(in.page.begin() + rec.record_start,
                               in.page.begin() + rec.record_start + rec.local_size);
  payload.insert(payload.end(), overflow.begin(), overflow.end());
  const byte_view whole(payload);
  uint64_t at = rec.header_size;
  for (size_t i = 0; i < rec.fields.size(); ++i) {
    const carved_field& f = rec.fields[i];
    if (at + f.size > rec.local_size && f.type_known && at + f.size <= whole.size() &&
        !value_fits(in.rules->fields[i], f.serial, whole.subspan(at, f.size), true, in.encoding, in.schema_format))
      return false;
    at += f.size;
  }
  return true;
}

// The one value of a record whose size the header does not give, and what
// the header gives around it.
struct open_value {
  size_t field;
  lost_type lost;
  uint32_t length;   // the cell's prefix before the record
  uint64_t known;    // the header and every other value
  uint64_t before;   // the header and the values before it
  bool text_last;    // the payload's last byte is a text's
};

// No more sizes than this are tried against one chain: where more fit the
// chain, the choice stays open.
constexpr uint64_t max_chain_sizes = 256;

// The readings whose local part is `local` bytes, the open value's size
// read off the free chain that begins at `first`: the payload takes every
// page of it, and ends on the last one at or past its last byte that is not
// zero. A text last value ends exactly there (it holds no zero byte).
void settle_from_chain(const rebuild_input& in, const carved_record& rec, const open_value& open,
                       uint32_t local, uint32_t first, std::vector<carved_record>* out) {
  const uint32_t cap = overflow_page_capacity(in.usable);
  // The open value lies on the page: the chain holds at most the values after it.
  const uint64_t most_rest = open.known - open.before;
  const byte_view chain = in.chains->free_chain(
      first, static_cast<uint32_t>(std::min<uint64_t>((most_rest + cap - 1) / cap, UINT32_MAX)));
  if (chain.empty()) return;
  uint64_t used = chain.size();
  while (used > 0 && chain[used - 1] == 0) --used;
  const uint64_t pages = chain.size() / cap;
  const uint64_t lo = std::max<uint64_t>(used, (pages - 1) * cap + 1);
  uint64_t hi = std::min<uint64_t>(pages * cap, most_rest);
  // A text's last character has a byte that is not zero: in UTF-16 the
  // other byte of its unit may be zero.
  if (open.text_last) hi = std::min<uint64_t>(hi, used + (in.encoding == text_encoding::utf8 ? 0 : 1));
  if (lo > hi || hi - lo >= max_chain_sizes) return;
  const bool table = in.format == cell_format::table;
  carved_record reading;
  for (uint64_t rest = lo; rest <= hi; ++rest) {
    if (rest + local < open.known) continue;
    const uint64_t size = rest + local - open.known;
    if (local_payload_size(open.known + size, in.usable, table) != local) continue;
    assign_record(&reading, rec);
    reading.fields[open.field].size = size;
    uint64_t chosen = 0;
    const int fitting = type_of_size(in, in.rules->fields[open.field], open.lost, size,
                                     in.page.subspan(rec.record_start + open.before, size), &chosen);
    if (fitting == 0) continue;
    reading.fields[open.field].serial = chosen;
    reading.fields[open.field].type_known = fitting == 1;
    reading.chain_settled = true;
    const size_t count = out->size();
    finish_reading(in, reading, open.length, out, rec.record_start + local + overflow_link_size);
    if (out->size() > count && (out->back().overflow_page != first ||
                                !overflow_fields_fit(in, out->back(), chain.first(rest))))
      out->pop_back();
  }
}

// The readings whose local part is `local` bytes, followed on the page by
// the number of the chain's first page.
void chain_at_local(const rebuild_input& in, const carved_record& rec, const open_value& open, uint32_t local,
                    std::vector<carved_record>* out) {
  const uint64_t end = uint64_t{rec.record_start} + local + overflow_link_size;
  uint64_t first = 0;
  if (local < open.before || end > in.hi || !read_be(in.page, end - overflow_link_size, overflow_link_size, &first) ||
      first == 0)
    return;
  settle_from_chain(in, rec, open, local, static_cast<uint32_t>(first), out);
}

// Settles the one lost size of a record whose payload overflows: its local
// part is as long whatever that size (M bytes, or K of its own), so where
// the record ends on the page does not give it. Its overflow chain does,
// when every page of the chain is free: the payload fills it to the last
// page's last byte that is not zero. The library takes an overflow page
// from past the file's end, or from the freelist after the transaction
// that freed it, as zeros, and writes the payload alone; one taken again
// in the transaction that freed it keeps its old bytes past the payload,
// so such a reading rests on an assumption (chain_settled).
void settle_by_chain(const rebuild_input& in, const carved_record& rec, size_t field,
                     const lost_type& lost, uint32_t length, std::vector<carved_record>* out) {
  open_value open{field, lost, length, 0, field_offset(rec, field), false};
  // A cut record's chain pointer lies past the cut.
  if (in.cut_at_hi || !in.chains || !sum_sizes(rec, field, &open.known) || open.known <= open.before) return;
  for (size_t i = rec.fields.size(); i-- > field + 1;)
    if (rec.fields[i].size != 0) {
      open.text_last = rec.fields[i].type_known && serial_is_text(rec.fields[i].serial);
      break;
    }
  // M bytes stay on the page whatever the payload's length beyond a point:
  // the chain alone places the record's end. A local part of K bytes (its
  // own for each length) is tried where the record may end.
  const bool table = in.format == cell_format::table;
  const uint32_t fewest = min_local(in.usable);
  chain_at_local(in, rec, open, fewest, out);
  for (const uint32_t end : in.end_hints)
    if (end >= uint64_t{rec.record_start} + fewest + 1 + overflow_link_size &&
        end - overflow_link_size - rec.record_start <= max_local(in.usable, table))
      chain_at_local(in, rec, open, end - overflow_link_size - rec.record_start, out);
}

// Reads `count` serial types from `at` into rec (after the lost ones); the
// offset after them, or 0 when they do not parse before hi.
uint32_t read_known_types(const rebuild_input& in, uint32_t at, size_t count, carved_record* rec) {
  const byte_view bounded = in.page.first(in.hi);
  uint64_t pos = at;
  for (size_t i = 0; i < count; ++i) {
    uint64_t serial = 0;
    if (!read_varint(bounded, &pos, &serial) || serial_reserved(serial)) return 0;
    rec->fields.push_back({serial, serial_size(serial), true});
  }
  return static_cast<uint32_t>(pos);
}

// A header that starts within the lost bytes: its size byte, and the serial
// types in them, are rebuilt from the types that survive.
void rebuild_lost_header(const rebuild_input& in, uint32_t length, uint32_t size_bytes,
                         std::span<const lost_type> lost, uint32_t known_start,
                         std::vector<carved_record>* out) {
  const uint32_t h = in.pos + length;
  const size_t total = in.rules->fields.size();
  carved_record rec;  // reused: its fields keep their capacity
  for (size_t fields = std::max<size_t>(in.rules->min_fields, lost.size()); fields <= total; ++fields) {
    static_cast<carved_cell&>(rec) = carved_cell{};
    rec.record_start = h;
    rec.fields.assign(lost.size(), carved_field{0, 0, false});
    const uint32_t header_end = read_known_types(in, known_start, fields - lost.size(), &rec);
    if (header_end == 0) continue;
    rec.header_size = header_end - h;
    if (varint_length(rec.header_size) != size_bytes) continue;
    if (size_bytes == 2 && known_start > in.pos + 4 && (rec.header_size & 0x7F) != in.page[in.pos + 4])
      continue;
    // Lost types: the rowid alias is NULL; any other one is settled by the end.
    int open_field = -1;
    bool usable = true;
    for (size_t i = 0; i < lost.size(); ++i) {
      if (in.rules->fields[i].rowid_alias) {
        if (lost[i].bytes != 1) usable = false;
        rec.fields[i] = {0, 0, true};
      } else if (open_field < 0) {
        open_field = static_cast<int>(i);
      } else {
        usable = false;  // two open sizes cannot both be settled
      }
    }
    if (!usable) continue;
    if (open_field < 0) {
      finish_reading(in, rec, length, out);
      continue;
    }
    settle_by_end(in, rec, static_cast<size_t>(open_field), lost[open_field], length, out);
    settle_by_chain(in, rec, static_cast<size_t>(open_field), lost[open_field], length, out);
  }
}

// The layouts of the lost bytes between the header-size varint and pos + 4.
void rebuild_short_prefix(const rebuild_input& in, uint32_t length, std::vector<carved_record>* out) {
  const uint32_t h = in.pos + length;
  const uint32_t known = in.pos + 4;
  if (known + 1 > in.hi) return;
  const uint32_t next = in.page[known];
  for (uint32_t size_bytes = 1; size_bytes <= 2; ++size_bytes) {
    const uint32_t t0 = h + size_bytes;
    if (t0 > known) {
      // The header-size varint ends on the first surviving byte.
      if (next & 0x80) continue;
      rebuild_lost_header(in, length, size_bytes, {}, t0, out);
      continue;
    }
    const uint32_t lost_bytes = known - t0;
    if (lost_bytes == 0) {
      rebuild_lost_header(in, length, size_bytes, {}, known, out);
    } else if (lost_bytes == 1) {
      const lost_type one[] = {{1, 0}};
      rebuild_lost_header(in, length, size_bytes, one, known, out);
      if (!(next & 0x80)) {
        const lost_type two[] = {{2, next}};
        rebuild_lost_header(in, length, size_bytes, two, known + 1, out);
      }
    } else if (lost_bytes == 2) {
      const lost_type ones[] = {{1, 0}, {1, 0}};
      rebuild_lost_header(in, length, size_bytes, ones, known, out);
    }
  }
}

bool same_reading(const carved_record& a, const carved_record& b) {
  if (a.record_start != b.record_start || a.end != b.end || a.header_size != b.header_size ||
      a.fields.size() != b.fields.size())
    return false;
  for (size_t i = 0; i < a.fields.size(); ++i)
    if (a.fields[i].serial != b.fields[i].serial || a.fields[i].size != b.fields[i].size ||
        a.fields[i].type_known != b.fields[i].type_known)
      return false;
  return true;
}

}  // namespace

void rebuild_readings(const rebuild_input& in, std::vector<carved_record>* readings) {
  readings->clear();
  if (!in.rules || in.rules->fields.empty() || in.pos + 5 > in.hi) return;
  const bool table = in.format == cell_format::table;
  const uint32_t shortest = table ? 2 : 1;
  const uint32_t longest = table ? 14 : 5;
  carved_record rec;  // reused: its fields keep their capacity
  for (uint32_t length = shortest; length <= longest; ++length) {
    const uint32_t h = in.pos + length;
    if (h + 2 > in.hi) break;
    // The last byte of the prefix ends a varint: its top bit is clear (but
    // for the ninth byte of a long rowid).
    if (length >= 5 && length < 10 && (in.page[h - 1] & 0x80)) continue;
    if (length >= 4) {
      static_cast<carved_cell&>(rec) = carved_cell{};
      if (!parse_record_header(in.page, h, in.hi, static_cast<uint32_t>(in.rules->fields.size()), &rec))
        continue;
      if (rec.fields.size() < in.rules->min_fields) continue;
      rec.record_start = h;
      finish_reading(in, rec, length, readings);
    } else {
      rebuild_short_prefix(in, length, readings);
    }
  }
  // The same reading can come from two layouts; keep one of each.
  size_t kept = 0;
  for (size_t i = 0; i < readings->size(); ++i) {
    const auto first = readings->begin(), last = first + static_cast<ptrdiff_t>(kept);
    if (std::any_of(first, last, [&](const carved_record& u) { return same_reading(u, (*readings)[i]); })) continue;
    if (kept != i) (*readings)[kept] = std::move((*readings)[i]);
    ++kept;
  }
  readings->resize(kept);
}

namespace {

// Whether the reading ends at one of `ends`; one whose chain fixes its end
// needs no boundary there.
bool ends_at(const carved_record& r, std::span<const uint32_t> ends) {
  return r.chain_settled || std::find(ends.begin(), ends.end(), r.end) != ends.end();
}

// The index of the one reading that ends at one of `ends`, -1 for none, -2
// for more than one. Of several, the only one whose types are all known is
// taken: another one then needs a lost type whose value has no bytes to tell
// it (a NULL, 0 or 1 read into the overwritten bytes), or, where one has an
// open type over bytes of its own (*guessed), the choice is an assumption.
int only_ending_at(const std::vector<carved_record>& readings, std::span<const uint32_t> ends, bool* guessed) {
  int found = -1, known = -1, known_count = 0, count = 0;
  bool rival = false;
  for (size_t i = 0; i < readings.size(); ++i) {
    if (!ends_at(readings[i], ends)) continue;
    ++count;
    found = static_cast<int>(i);
    if (all_types_known(readings[i])) {
      ++known_count;
      known = static_cast<int>(i);
    } else {
      rival = rival || std::any_of(readings[i].fields.begin(), readings[i].fields.end(),
                                   [](const carved_field& f) { return !f.type_known && f.size != 0; });
    }
  }
  if (count <= 1) return found;
  *guessed = known_count == 1 && rival;
  return known_count == 1 ? known : -2;
}

}  // namespace

bool choose_reading(const rebuild_input& in, std::vector<carved_record>& readings,
                    carved_record* out) {
  // A reading must end where something else begins (or the region ends):
  // a lone reading that ends elsewhere is as likely chance.
  bool typed = false;
  int chosen = only_ending_at(readings, in.end_hints, &typed);
  // Of several, the one that ends exactly where something begins: that no
  // fragment bytes lie before the boundary is an assumption, so the
  // reading is marked inferred.
  const bool inferred = chosen == -2;
  if (inferred) chosen = only_ending_at(readings, in.exact_ends, &typed);
  if (chosen < 0) return false;
  *out = std::move(readings[static_cast<size_t>(chosen)]);
  out->inferred = inferred;
  out->typed_guess = typed;
  return true;
}
