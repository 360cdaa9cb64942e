#include "recover/page_recovery.h"

#include <algorithm>

#include "recover/cell_parse.h"
#include "deep/row_status.h"
#include "live/row_values.h"
#include "live/schema_load.h"
#include "format/btree_search.h"
#include "format/payload.h"
#include "format/record.h"
#include "format/serial_type.h"
#include "format/text.h"
#include "schema/sql_lexer.h"

namespace {

// Overflow chains of deleted records run through free pages only, each page
// used by one record.
class free_page_gate : public overflow_gate {
 public:
  free_page_gate(const page_map* map, std::vector<uint8_t>* used) : map_(map), used_(used) {}
  bool enter(uint32_t page) override {
    if (page == 0 || page > map_->size() || (*used_)[page - 1]) return false;
    const page_role role = (*map_)[page - 1].role;
    if (role != page_role::freelist_leaf && role != page_role::unreached) return false;
    (*used_)[page - 1] = 1;
    return true;
  }

 private:
  const page_map* map_;
  std::vector<uint8_t>* used_;
};


// The record hash of a found record: its header as found, or encoded again
// from the serial types where it was rebuilt (a type left open is encoded
// as one no header holds, so such a record equals only its own copies).
uint64_t carved_hash(int32_t table, const carved_record& rec, byte_view payload) {
  const byte_view body = payload.size() > rec.header_size ? payload.subspan(rec.header_size) : byte_view{};
  if (!rec.rebuilt) return record_hash(table, payload.first(std::min<uint64_t>(rec.header_size, payload.size())), body);
  uint8_t header[2048];
  if (9 + 9 * rec.fields.size() > sizeof header) return record_hash(table, {}, payload);
  uint32_t at = write_varint(rec.header_size, header);
  for (const carved_field& f : rec.fields) at += write_varint(f.type_known ? f.serial : 10, header + at);
  return record_hash(table, byte_view(header, at), body);
}


// The table that the whole records of a page with no known owner agree on
// (-1 if none), found by a search that prints nothing.
template <typename Search>
int32_t owner_by_tally(table_judge* judge, Search&& search) {
  owner_tally tally(judge);
  search(&tally);
  return tally.owner();
}

}  // namespace

bool recovery::keyed_table(int32_t table, const carved_record& rec) const {
  return table >= 0 ? !s_->db_schema.tables[table].without_rowid : rec.format == cell_format::table;
}

found_record* recovery::next_deferred() {
  if (*deferred_ == defer_->size()) defer_->emplace_back();
  return &(*defer_)[(*deferred_)++];
}

void recovery::chain_note(uint32_t page) {
  if (defer_) {
    found_record* f = next_deferred();
    f->chain_note = true;
    f->page = page;
    return;
  }
  note(&s_->notes, "page %u: the freeblock chain leaves the page or turns back; the rest of it is searched as a gap",
       page);
}

void recovery::print(const found_record& f) {
  if (f.chain_note) {
    chain_note(f.page);
    return;
  }
  page_ = f.page;
  page_offset_ = f.page_offset;
  bytes_ = f.bytes;
  role_ = f.role;
  origin_ = f.origin;
  older_ = false;
  found(f.rec, f.table, f.kind);
}

namespace {

// Whether the chain's data past the payload is zero on its last page, and
// the texts read from the chain are texts: a chain that holds more than the
// record, or ends its text with zero bytes, was written since by a later
// row that took its pages and then freed them (or kept the bytes of an
// earlier use), and what it holds is not the record's.
bool chain_is_records(const carved_record& rec, const payload_view& payload, const page_store& store,
                      text_encoding encoding) {
  const uint32_t cap = overflow_page_capacity(store.usable);
  const uint64_t on_last = (rec.payload_size - rec.local_size - 1) % cap + 1;
  const byte_view last = store_page(store, payload.last_page).bytes;
  for (uint64_t i = overflow_link_size + on_last; i < store.usable && i < last.size(); ++i)
    if (last[i] != 0) return false;
  uint64_t at = rec.header_size;
  for (const carved_field& f : rec.fields) {
    const bool text = f.type_known && serial_is_text(f.serial);
    if (text && at + f.size > rec.local_size && at + f.size <= payload.bytes.size()) {
      const byte_view value = payload.bytes.subspan(at, f.size);
      if (!text_valid(value, encoding) || text_has_nul(value, encoding)) return false;
    }
    at += f.size;
  }
  return true;
}

}  // namespace

// The record's payload: its local part and its overflow chain, taken only
// when every page of the chain is free, the chain ends with the payload
// (the last page links nowhere, and holds nothing past it) and its texts
// read as texts. Otherwise the local part alone, and in *broken_at the page
// where the chain stopped being the record's.
byte_view recovery::payload_of(const carved_record& rec, uint32_t* broken_at) {
  *broken_at = 0;
  const byte_view local = bytes_.subspan(rec.record_start, rec.local_size);
  if (rec.overflow_page == 0) return local;
  cell_info cell{};
  cell.offset = rec.cell_start;
  cell.payload_size = rec.payload_size;
  cell.payload_offset = rec.record_start;
  cell.local_size = rec.local_size;
  cell.overflow_page = rec.overflow_page;
  free_page_gate gate(&s_->map, &used_);
  const payload_view payload = gather_payload(s_->store, bytes_, cell, &chain_, &gate);
  uint32_t after = 0;  // the last page's link: a whole chain ends with the payload
  if (!payload.complete)
    *broken_at = payload.damaged_page != 0 ? payload.damaged_page : rec.overflow_page;
  else if (next_overflow_page(store_page(s_->store, payload.last_page).bytes, 0, &after) && after != 0)
    *broken_at = payload.last_page;
  else if (!chain_is_records(rec, payload, s_->store, s_->header.encoding))
    *broken_at = release_chain(rec);
  return *broken_at != 0 ? local : payload.bytes;
}

// Gives back the pages of a whole chain that holds another row's data: the
// row it belongs to may be read later. Returns its last page.
uint32_t recovery::release_chain(const carved_record& rec) {
  const uint32_t cap = overflow_page_capacity(s_->store.usable);
  const uint64_t pages = (rec.payload_size - rec.local_size + cap - 1) / cap;
  uint32_t page = rec.overflow_page, last = page;
  for (uint64_t n = 0; n < pages && page != 0 && page <= used_.size(); ++n) {
    used_[page - 1] = 0;
    last = page;
    uint32_t next = 0;
    if (!next_overflow_page(store_page(s_->store, page).bytes, 0, &next)) break;
    page = next;
  }
  return last;
}

// Read on the searching thread: the page map's roles only, not the pages
// that printed records claimed.
byte_view recovery::free_chain(uint32_t first_page, uint32_t max_pages) {
  if (first_page == free_chain_first_ && max_pages == free_chain_pages_) return free_chain_;
  free_chain_first_ = first_page;
  free_chain_pages_ = max_pages;
  free_chain_.clear();
  const uint32_t cap = overflow_page_capacity(s_->store.usable);
  const uint32_t most = static_cast<uint32_t>(std::min<size_t>(max_pages, s_->map.size()));
  std::vector<uint32_t> seen;
  uint32_t page = first_page;
  for (uint32_t n = 0; n < most && page != 0; ++n) {
    const page_entry* entry = map_entry(s_->map, page);
    if (!entry || (entry->role != page_role::freelist_leaf && entry->role != page_role::unreached)) break;
    const page_ref ref = store_page(s_->store, page);
    const byte_view data = overflow_page_data(ref.bytes, 0, cap);
    uint32_t next = 0;
    if (data.size() != cap || !next_overflow_page(ref.bytes, 0, &next)) break;
    free_chain_.insert(free_chain_.end(), data.begin(), data.end());
    seen.push_back(page);
    page = next;
  }
  // A whole chain: it links nowhere at its end, and through no page twice.
  std::sort(seen.begin(), seen.end());
  if (page != 0 || std::adjacent_find(seen.begin(), seen.end()) != seen.end()) free_chain_.clear();
  return free_chain_;
}

// Whether the record is a copy of one read before with its chain: a cell
// left behind where the library moved it (its local part the same) whose
// chain that record claimed. A record whose chain it takes is noted as the
// chain's claimant.
bool recovery::claimed_by_copy(const carved_record& rec, int32_t table, uint32_t broken_at) {
  if (rec.overflow_page == 0) return false;
  const uint64_t claim = carved_hash(table, rec, bytes_.subspan(rec.record_start, rec.local_size)) ^
                         (uint64_t{rec.overflow_page} * 0x9E3779B97F4A7C15ULL);
  if (broken_at == 0) {
    chain_claims_.insert(claim);
    return false;
  }
  return chain_claims_.contains(claim);
}

void recovery::decode_fields(const carved_record& rec, byte_view payload,
                             std::vector<value_view>* out) const {
  std::vector<value_view>& values = *out;
  values.clear();
  uint64_t at = rec.header_size;
  for (const carved_field& f : rec.fields) {
    const bool overwritten = rec.cut_at != 0 && rec.record_start + at + f.size > rec.cut_at;
    if (f.type_known && !overwritten && at + f.size <= payload.size())
      values.push_back(decode_value(f.serial, payload.data() + at, s_->header.encoding));
    else
      values.push_back(unknown_value());
    at += f.size;
  }
}

// Whether a schema row names an object (its type and name read) that the
// live schema does not hold.
namespace {

bool no_live_object(const schema& db_schema, std::span<const value_view> values) {
  if (values.size() < 2 || values[0].kind != value_kind::text || values[1].kind != value_kind::text) return false;
  const schema_object row = schema_object_from(values.first(2));
  return std::none_of(db_schema.objects.begin(), db_schema.objects.end(), [&](const schema_object& o) {
    return o.type == row.type && sql_iequal(o.name, row.name);
  });
}

}  // namespace

// Whether the record is of a row that is not live: its rowid survives and
// its table's tree no longer holds it, or, in a table without rowid, its
// primary key (values, when decoded) survives and no live row has it. A
// record cut short by a later cell, or whose chain a live row took, is
// printed only then.
bool recovery::no_longer_live(const carved_record& rec, int32_t table, std::span<const value_view> values) const {
  if (table < 0 || table >= index_base) return false;
  const table_def& def = s_->db_schema.tables[table];
  if (def.without_rowid) {
    const size_t key_values = def.primary_key.size();
    uint64_t hash = 0;
    return key_values != 0 && values.size() >= key_values &&
           key_hash(table, values.first(key_values), &hash) && !s_->memory.live_keys.contains(hash);
  }
  if (table == 0 && !rec.has_rowid) return no_live_object(s_->db_schema, values);
  if (!rec.has_rowid) return false;
  const uint32_t root = static_cast<size_t>(table) < s_->table_roots.size() ? s_->table_roots[table] : 0;
  rowid_hit hit{};
  return root == 0 || !find_rowid(store_reader(s_->store), root, s_->store.usable, rec.rowid, &hit);
}

// What the record's own values say, before it is compared with the rows
// printed: it holds something, a schema row reads as one, and it is no copy
// of a live row.
bool recovery::worth_printing(const carved_record& rec, int32_t table,
                              std::span<const value_view> values, byte_view payload,
                              uint64_t* hash) const {
  if (!record_has_substance(values) || (table == 0 && !schema_row_plausible(values))) return false;
  if (rec.cut_at != 0 && !no_longer_live(rec, table, values)) return false;
  *hash = carved_hash(table, rec, payload);
  return !copy_of_live(s_->memory, keyed_table(table, rec), rec.has_rowid, rec.rowid, *hash);
}

void recovery::found(const carved_record& rec, int32_t table, region_kind kind) {
  if (reading_of(rec) == row_reading::inferred && s_->emitter.no_inferred) return;
  // A record whose overflow chain a live row still uses is a stale copy of
  // that row, left behind when its cell moved, unless its own rowid is no
  // longer live: then a new row took its chain, and its local part is read.
  const page_entry* chain = map_entry(s_->map, rec.overflow_page);
  if (chain && chain->role == page_role::overflow && !no_longer_live(rec, table, {})) return;
  if (defer_) {
    // What can be judged without the chain's pages is judged here, on the
    // searching thread.
    if (rec.overflow_page == 0 && table < index_base) {
      uint64_t hash = 0;
      const byte_view payload = bytes_.subspan(rec.record_start, rec.local_size);
      decode_fields(rec, payload, &search_values_);
      if (!worth_printing(rec, table, search_values_, payload, &hash)) return;
    }
    found_record* f = next_deferred();
    assign_record(&f->rec, rec);
    f->table = table;
    f->kind = kind;
    f->page = page_;
    f->page_offset = page_offset_;
    f->bytes = bytes_;
    f->role = role_;
    f->origin = origin_;
    f->chain_note = false;
    return;
  }
  if (table >= index_base) {
    keep_index_entry(rec, table, kind);
    return;
  }
  uint32_t broken_at = 0;
  const byte_view payload = payload_of(rec, &broken_at);
  if (claimed_by_copy(rec, table, broken_at)) return;
  if (broken_at != 0)
    note(&s_->notes, "page %u: the deleted record at offset %u overflows, and its chain breaks at page %u (in use, gone, not free or running on past the record); only its part on page %u is read, its other values are left empty",
         page_, rec.cell_start, broken_at, page_);
  std::vector<value_view>& values = s_->emitter.record;
  decode_fields(rec, payload, &values);

  uint64_t hash = 0;
  if (!worth_printing(rec, table, values, payload, &hash)) return;
  if (seen_before(&s_->memory, keyed_table(table, rec), rec.has_rowid, rec.rowid, hash)) return;
  note_overlap(rec);
  const table_def* def = table >= 0 ? &s_->db_schema.tables[table] : nullptr;
  const row_status status = status_by_key(*s_, table, row_status::deleted, rec.has_rowid, rec.rowid, values);
  emit_row(&s_->emitter, def,
           {status, older_ ? older_source_ : source_of(role_, kind, origin_), page_,
            page_offset_ + rec.cell_start, rec.has_rowid, rec.rowid, reading_of(rec),
            assumption_of(rec)});
  if (page_entry* entry = map_entry(&s_->map, page_)) entry->rows_recovered += 1;
  if (table == 0) keep_schema_row(rec, payload, values);
  explain_by_row(&s_->indexes, table, s_->emitter.columns, rec.has_rowid, rec.rowid);
}

// Keeps a deleted schema row for the dropped tables; of a statement cut by a
// later cell, the text before the cut.
void recovery::keep_schema_row(const carved_record& rec, byte_view payload, std::span<const value_view> values) {
  schema_object object = schema_object_from(values);
  constexpr size_t sql_field = 4;
  if (rec.cut_at != 0 && values.size() > sql_field && values[sql_field].kind == value_kind::unknown &&
      rec.fields[sql_field].type_known && serial_is_text(rec.fields[sql_field].serial)) {
    const uint64_t at = field_offset(rec, sql_field);
    const uint64_t kept = rec.cut_at > rec.record_start + at ? rec.cut_at - rec.record_start - at : 0;
    const uint64_t size = std::min({kept, rec.fields[sql_field].size, at <= payload.size() ? payload.size() - at : 0});
    const uint64_t unit = s_->header.encoding == text_encoding::utf8 ? 1 : 2;
    append_utf8(&object.sql, payload.subspan(at, size - size % unit), s_->header.encoding);
    object.sql_cut = true;
  }
  schema_rows_.push_back(std::move(object));
}

void recovery::note_overlap(const carved_record& rec) {
  if (rec.cut_at != 0)
    note(&s_->notes, "page %u: the deleted record at offset %u was overwritten from offset %u by a later cell; its values from there are left empty",
         page_, rec.cell_start, rec.cut_at);
}

void recovery::carve_btree_page(const btree_page& page, bool old, record_judge* judge) {
  const page_entry* entry = old ? nullptr : map_entry(s_->map, page.number);
  const uint32_t known_free = entry ? entry->free_bytes : UINT32_MAX;
  const chain_fault fault = page_regions(page, s_->store.page_count, &regions_, &cells_, &taken_, known_free);
  if (fault != chain_fault::none && !old) chain_note(page.number);
  const cell_format format = is_table_type(page.type) ? cell_format::table : cell_format::index;
  const carve_settings& settings = *settings_;
  scratch_.cut_tails = !old;
  // A page in use: an old freeblock header whose block ends where a live
  // cell begins is a boundary, even past the block it now lies in.
  const uint64_t pointers = page.header_offset + page.header_size;
  set_live_pointers(&scratch_, old || cell_array_end(page) > page.bytes.size()
                                   ? byte_view{}
                                   : page.bytes.subspan(pointers, cell_array_end(page) - pointers));
  // An old cell pointer into the page's header or its pointer array points
  // at page structure, not a cell.
  const uint64_t structure_end = cell_array_end(page);
  if (old)
    for (const cell_extent& c : cells_)
      if (c.start >= structure_end) carve_old_cell(settings, page.bytes, c.start, page.usable, format, judge, &scratch_);
  for (page_region r : regions_) {
    if (r.kind == region_kind::unallocated && r.start == structure_end) r.start = past_old_pointers(page, r);
    carve_region(settings, page.bytes, r, std::span(&format, 1), judge, &scratch_);
  }
}

// Where the old entries of the cell pointer array end: a deleted cell's
// pointer leaves the array, and its last slots keep offsets of cells (a
// cell still on the page, or one freed since). Those two-byte words are
// page structure, not a record: each points into the cell content area.
uint32_t recovery::past_old_pointers(const btree_page& page, const page_region& region) {
  uint32_t at = region.start;
  const auto pointer = [&](uint32_t word) { return word >= page.content_start && word < page.usable; };
  while (at + 2 <= region.end && pointer(be16_or_zero(page.bytes, at))) at += 2;
  return at;
}

void recovery::carve_whole(byte_view bytes, uint32_t from, record_judge* judge) {
  static constexpr cell_format both[] = {cell_format::table, cell_format::index};
  const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(bytes.size(), s_->store.usable));
  if (from >= end) return;
  scratch_.cut_tails = false;
  carve_region(*settings_, bytes, {from, end, region_kind::whole}, both, judge, &scratch_);
}

void recovery::recover_page(uint32_t number) {
  const page_entry& entry = s_->map[number - 1];
  const page_ref ref = store_page(s_->store, number);
  if (ref.bytes.empty()) return;
  page_ = number;
  page_offset_ = ref.file_offset;
  bytes_ = ref.bytes;
  role_ = entry.role;
  origin_ = ref.origin;
  older_ = false;
  btree_page page{};
  switch (entry.role) {
    case page_role::table_interior:
    case page_role::table_leaf:
    case page_role::index_interior:
    case page_role::index_leaf:
      if (!read_btree_page(ref, number, s_->store.usable, &page)) return;
      if (entry.index_entries && entry.index < 0) return;
      set_owner(entry.index_entries ? index_base + entry.index : entry.owner);
      carve_btree_page(page, false, this);
      return;
    case page_role::freelist_trunk: {
      const uint32_t from = 8 + 4 * std::min(be32_or_zero(ref.bytes, 4), s_->store.usable / 4 - 2);
      set_owner(entry.owner);
      if (entry.owner < 0) set_owner(owner_by_tally(this, [&](record_judge* j) { carve_whole(ref.bytes, from, j); }));
      // A trunk's tail is what the page held before: old cells, or the data
      // of an overflow page. Without an owner its whole cells are read, and
      // nothing is rebuilt from bytes that may never have been cells.
      if (owner_ < 0) rebuild_none();
      carve_whole(ref.bytes, from, this);
      return;
    }
    case page_role::freelist_leaf:
    case page_role::unreached:
      // A free page that kept a b-tree header is an old b-tree page; one
      // without is an old overflow page or was never used: payload bytes,
      // not cells.
      if (!read_btree_page(ref, number, s_->store.usable, &page)) return;
      set_owner(entry.owner);
      if (entry.owner < 0) set_owner(owner_by_tally(this, [&](record_judge* j) { carve_btree_page(page, true, j); }));
      carve_btree_page(page, true, this);
      return;
    default: return;
  }
}

bool recovery::old_schema_leaf(uint32_t number) {
  const page_role role = s_->map[number - 1].role;
  if (role != page_role::freelist_leaf && role != page_role::unreached) return false;
  btree_page page{};
  if (!read_btree_page(store_page(s_->store, number), number, s_->store.usable, &page) ||
      page.type != page_table_leaf)
    return false;
  set_owner(-1);
  // A leaf holds the cells of one tree: the first that reads tells.
  for (uint32_t i = 0; i < page.cell_count; ++i) {
    uint32_t offset = 0;
    if (cell_offset(page, i, &offset) &&
        parse_whole_cell(page.bytes, offset, page.usable, cell_format::table, settings_->limits, &scratch_.record))
      return scratch_.record.fields.size() == 5 && judge(scratch_.record, page.bytes) == 0;
  }
  return false;
}

// Whether the page is now a page of an index (its cells are not rows).
bool recovery::index_entries_page(uint32_t number) const {
  const page_entry* entry = map_entry(s_->map, number);
  return entry && entry->index_entries;
}

// The table an older image's page belonged to: its owner now, when it is
// still a page of that kind of tree; else none (the schema decides).
int32_t recovery::owner_of(uint32_t number, const btree_page& page) const {
  const page_entry* found = map_entry(s_->map, number);
  if (!found) return -1;
  const page_entry& entry = *found;
  const bool table_page = entry.role == page_role::table_leaf || entry.role == page_role::table_interior;
  const bool index_page = entry.role == page_role::index_leaf || entry.role == page_role::index_interior;
  if (entry.index_entries || (!table_page && !index_page)) return -1;
  return table_page == is_table_type(page.type) ? entry.owner : -1;
}

// A cell of an older image: a row as it was at the image's time, read
// whole (its overflow chain through the pages of that time), printed unless
// it equals a current row or one printed before.
void recovery::older_row(const btree_page& page, uint32_t offset, const older_image& image) {
  cell_info cell{};
  if (!read_cell(page.bytes, page.type, s_->store.usable, offset, page.usable, &cell)) return;
  const bool table_cells = is_table_type(page.type);
  int32_t table = owner_;
  if (table < 0 || static_cast<size_t>(table) >= s_->db_schema.tables.size()) {
    const cell_format format = table_cells ? cell_format::table : cell_format::index;
    if (!parse_whole_cell(page.bytes, offset, page.usable, format, settings_->limits, &scratch_.record))
      return;
    table = judge(scratch_.record, page.bytes);
    if (table < 0 || table >= index_base) return;
  }
  const table_def& def = s_->db_schema.tables[table];
  if (def.without_rowid == table_cells) return;
  const payload_view payload = gather_payload(*image.time, s_->store.usable, UINT32_MAX, page.bytes,
                                              cell, &chain_, nullptr);
  if (!decode_payload(&s_->emitter, payload.bytes, cell.payload_size)) return;
  if (seen_before(&s_->memory, table_cells, table_cells, cell.rowid, payload_hash(table, payload.bytes)))
    return;
  const row_status status = status_by_key(*s_, table, image.status, table_cells, cell.rowid, s_->emitter.record);
  emit_row(&s_->emitter, &def,
           {status, image.source, image.page, image.ref.file_offset + offset, table_cells, cell.rowid});
  if (page_entry* entry = map_entry(&s_->map, image.page)) entry->rows_recovered += 1;
  if (table == 0) schema_rows_.push_back(schema_object_from(s_->emitter.record));
  explain_by_row(&s_->indexes, table, s_->emitter.columns, table_cells, cell.rowid);
}

void recovery::recover_image(const older_image& image) {
  btree_page page{};
  if (!read_btree_page(image.ref, image.page, s_->store.usable, &page)) return;
  page_ = image.page;
  page_offset_ = image.ref.file_offset;
  bytes_ = image.ref.bytes;
  role_ = page_role::unreached;
  older_ = true;
  older_source_ = image.source;
  set_owner(owner_of(image.page, page));
  if (image.rows) {
    for (uint32_t i = 0; i < page.cell_count; ++i) {
      uint32_t offset = 0;
      if (!cell_offset(page, i, &offset)) continue;
      if ((is_leaf_type(page.type) || !is_table_type(page.type)) && !index_entries_page(image.page))
        older_row(page, offset, image);
    }
  }
  carve_btree_page(page, !image.rows, this);
}
