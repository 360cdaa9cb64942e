#include "deep/recover.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "carve/cell_parse.h"
#include "carve/regions.h"
#include "deep/attribution.h"
#include "deep/dropped_tables.h"
#include "deep/schema_load.h"
#include "diagnostics/progress.h"
#include "format/payload.h"
#include "format/record.h"
#include "image/processors.h"

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

row_source source_of(page_role role, region_kind kind, page_origin origin) {
  if (origin == page_origin::wal) return row_source::wal;
  if (origin == page_origin::journal) return row_source::journal;
  switch (role) {
    case page_role::freelist_trunk:
    case page_role::freelist_leaf: return row_source::freelist;
    case page_role::unreached: return row_source::lost;
    default: return kind == region_kind::freeblock ? row_source::freeblock : row_source::unallocated;
  }
}

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

bool keyed_table_of(const schema& db_schema, int32_t table, const carved_record& rec) {
  return table >= 0 ? !db_schema.tables[table].without_rowid : rec.format == cell_format::table;
}

// A record the search found, kept until its page's turn to be printed (the
// search runs on two threads, the printing in page order on one).
struct found_record {
  carved_record rec;
  int32_t table = -1;
  region_kind kind = region_kind::gap;
  uint32_t page = 0;
  uint64_t page_offset = 0;
  byte_view bytes;
  page_role role = page_role::unreached;
  page_origin origin = page_origin::db;
  bool chain_note = false;  // no record: the page's freeblock chain was damaged
};

class recovery : public table_judge {
 public:
  recovery(deep_state* s, carve_tables* tables, const carve_settings* settings)
      : table_judge(tables, settings), s_(s), tables_mut_(tables), used_(s->map.size(), 0) {}

  void recover_page(uint32_t number);
  void recover_image(const older_image& image);
  void found(const carved_record& rec, int32_t table, region_kind kind) override;
  // While set, found() keeps what it finds here instead of printing it.
  void defer_to(std::vector<found_record>* finds, size_t* count) {
    defer_ = finds;
    deferred_ = count;
  }
  // Prints a kept record (or its note) as found() would have.
  void print(const found_record& f);
  std::vector<schema_object>& deleted_schema_rows() { return schema_rows_; }
  carve_tables* tables() { return tables_mut_; }

 private:
  void carve_btree_page(const btree_page& page, bool old);
  void older_row(const btree_page& page, uint32_t offset, const older_image& image);
  int32_t owner_of(uint32_t number, const btree_page& page) const;
  bool index_entries_page(uint32_t number) const;
  void carve_whole(byte_view bytes, uint32_t from);
  byte_view payload_of(const carved_record& rec, bool* cut);
  void decode_fields(const carved_record& rec, byte_view payload, std::vector<value_view>* values) const;
  bool worth_printing(const carved_record& rec, int32_t table, std::span<const value_view> values,
                      byte_view payload, uint64_t* hash) const;
  std::vector<value_view> search_values_;  // the searching thread's own
  bool keyed_table(int32_t table, const carved_record& rec) const {
    return keyed_table_of(s_->db_schema, table, rec);
  }

  deep_state* s_;
  carve_tables* tables_mut_;
  std::vector<uint8_t> used_;
  carve_scratch scratch_;
  std::vector<page_region> regions_;
  std::vector<cell_extent> cells_;
  std::vector<cell_extent> taken_;
  std::vector<uint8_t> chain_;
  std::vector<schema_object> schema_rows_;
  uint32_t page_ = 0;
  uint64_t page_offset_ = 0;
  byte_view bytes_;
  page_role role_ = page_role::unreached;
  page_origin origin_ = page_origin::db;
  // Set while an older image is searched: its rows' source.
  bool older_ = false;
  row_source older_source_ = row_source::wal;
  std::vector<found_record>* defer_ = nullptr;
  size_t* deferred_ = nullptr;
  void chain_note(uint32_t page);
  found_record* next_deferred();
};

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

byte_view recovery::payload_of(const carved_record& rec, bool* cut) {
  *cut = false;
  if (rec.overflow_page == 0) return bytes_.subspan(rec.record_start, rec.local_size);
  cell_info cell{};
  cell.offset = rec.cell_start;
  cell.payload_size = rec.payload_size;
  cell.payload_offset = rec.record_start;
  cell.local_size = rec.local_size;
  cell.overflow_page = rec.overflow_page;
  free_page_gate gate(&s_->map, &used_);
  const payload_view payload = gather_payload(s_->store, bytes_, cell, &chain_, &gate);
  *cut = !payload.complete;
  return payload.bytes;
}

void recovery::decode_fields(const carved_record& rec, byte_view payload,
                             std::vector<value_view>* out) const {
  std::vector<value_view>& values = *out;
  values.clear();
  uint64_t at = rec.header_size;
  for (const carved_field& f : rec.fields) {
    if (f.type_known && at + f.size <= payload.size())
      values.push_back(decode_value(f.serial, payload.data() + at, s_->header.encoding));
    else
      values.push_back(unknown_value());
    at += f.size;
  }
}

// What the record's own values say, before it is compared with the rows
// printed: it holds something, a schema row reads as one, and it is no copy
// of a live row.
bool recovery::worth_printing(const carved_record& rec, int32_t table,
                              std::span<const value_view> values, byte_view payload,
                              uint64_t* hash) const {
  if (!record_has_substance(values) || (table == 0 && !schema_row_plausible(values))) return false;
  *hash = carved_hash(table, rec, payload);
  return !copy_of_live(s_->memory, keyed_table(table, rec), rec.has_rowid, rec.rowid, *hash);
}

void recovery::found(const carved_record& rec, int32_t table, region_kind kind) {
  // A record whose overflow chain a live row still uses is a stale copy of
  // that row, left behind when its cell moved.
  if (rec.overflow_page != 0 && rec.overflow_page <= s_->map.size() &&
      s_->map[rec.overflow_page - 1].role == page_role::overflow)
    return;
  if (defer_) {
    // What can be judged without the chain's pages is judged here, on the
    // searching thread.
    if (rec.overflow_page == 0) {
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
  bool cut = false;
  const byte_view payload = payload_of(rec, &cut);
  if (cut)
    note(&s_->notes, "page %u: the deleted record at offset %u continues on a page that is in use or gone; its values from there are left empty",
         page_, rec.cell_start);
  std::vector<value_view>& values = s_->emitter.record;
  decode_fields(rec, payload, &values);
  uint64_t hash = 0;
  if (!worth_printing(rec, table, values, payload, &hash)) return;
  if (seen_before(&s_->memory, keyed_table(table, rec), rec.has_rowid, rec.rowid, hash)) return;
  const table_def* def = table >= 0 ? &s_->db_schema.tables[table] : nullptr;
  emit_row(&s_->emitter, def,
           {row_status::deleted, older_ ? older_source_ : source_of(role_, kind, origin_), page_,
            page_offset_ + rec.cell_start, rec.has_rowid, rec.rowid});
  if (page_ <= s_->map.size()) s_->map[page_ - 1].rows_recovered += 1;
  if (table == 0) schema_rows_.push_back(schema_object_from(values));
}

void recovery::carve_btree_page(const btree_page& page, bool old) {
  const uint32_t known_free = old || page.number > s_->map.size() ? UINT32_MAX : s_->map[page.number - 1].free_bytes;
  const chain_fault fault = page_regions(page, s_->store.page_count, &regions_, &cells_, &taken_, known_free);
  if (fault != chain_fault::none && !old) chain_note(page.number);
  const cell_format format = is_table_type(page.type) ? cell_format::table : cell_format::index;
  const carve_settings& settings = *settings_;
  if (old)
    for (const cell_extent& c : cells_)
      carve_old_cell(settings, page.bytes, c.start, page.usable, format, this, &scratch_);
  for (const page_region& r : regions_)
    carve_region(settings, page.bytes, r, std::span(&format, 1), this, &scratch_);
}

void recovery::carve_whole(byte_view bytes, uint32_t from) {
  static constexpr cell_format both[] = {cell_format::table, cell_format::index};
  const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(bytes.size(), s_->store.usable));
  if (from >= end) return;
  carve_region(*settings_, bytes, {from, end, region_kind::whole}, both, this, &scratch_);
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
      if (entry.index_entries) return;
      if (!read_btree_page(ref, number, s_->store.usable, &page)) return;
      set_owner(entry.owner);
      carve_btree_page(page, false);
      return;
    case page_role::freelist_trunk: {
      const uint32_t count = std::min(be32_or_zero(ref.bytes, 4), s_->store.usable / 4 - 2);
      set_owner(entry.owner);
      carve_whole(ref.bytes, 8 + 4 * count);
      return;
    }
    case page_role::freelist_leaf:
    case page_role::unreached:
      // A free page that kept a b-tree header is an old b-tree page; one
      // without is an old overflow page or was never used: payload bytes,
      // not cells.
      set_owner(entry.owner);
      if (read_btree_page(ref, number, s_->store.usable, &page)) carve_btree_page(page, true);
      return;
    default: return;
  }
}

// Whether the page is now a page of an index (its cells are not rows).
bool recovery::index_entries_page(uint32_t number) const {
  return number >= 1 && number <= s_->map.size() && s_->map[number - 1].index_entries;
}

// The table an older image's page belonged to: its owner now, when it is
// still a page of that kind of tree; else none (the schema decides).
int32_t recovery::owner_of(uint32_t number, const btree_page& page) const {
  if (number == 0 || number > s_->map.size()) return -1;
  const page_entry& entry = s_->map[number - 1];
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
    if (table < 0) return;
  }
  const table_def& def = s_->db_schema.tables[table];
  if (def.without_rowid == table_cells) return;
  const payload_view payload = gather_payload(*image.time, s_->store.usable, UINT32_MAX, page.bytes,
                                              cell, &chain_, nullptr);
  if (!decode_payload(&s_->emitter, payload.bytes, cell.payload_size)) return;
  if (seen_before(&s_->memory, table_cells, table_cells, cell.rowid, payload_hash(table, payload.bytes)))
    return;
  emit_row(&s_->emitter, &def,
           {image.status, image.source, image.page, image.ref.file_offset + offset, table_cells, cell.rowid});
  if (image.page <= s_->map.size()) s_->map[image.page - 1].rows_recovered += 1;
  if (table == 0) schema_rows_.push_back(schema_object_from(s_->emitter.record));
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
  carve_btree_page(page, !image.rows);
}

// Pages are searched in chunks by two threads (where two processors are
// free) and printed by this one in page order, so the output is the same
// as a search by one thread.
constexpr uint32_t chunk_pages = 64;
constexpr uint32_t chunks_ahead = 32;

struct chunk_slot {
  std::vector<found_record> finds;
  size_t count = 0;
  bool done = false;
};

struct page_chunks {
  uint32_t total = 0;      // chunks
  uint32_t claimed = 0;    // chunks handed out
  uint32_t printed = 0;    // chunks printed
  std::vector<chunk_slot> slots{chunks_ahead};
  std::mutex lock;
  std::condition_variable changed;
};

// Claims the next chunk whose slot is free; -1 when none is left, -2 when
// the slots are all waiting to be printed (`wait` false).
int64_t claim_chunk(page_chunks* chunks, bool wait) {
  std::unique_lock<std::mutex> guard(chunks->lock);
  const auto ready = [&] {
    return chunks->claimed >= chunks->total || chunks->claimed - chunks->printed < chunks_ahead;
  };
  if (wait) chunks->changed.wait(guard, ready);
  else if (!ready()) return -2;
  if (chunks->claimed >= chunks->total) return -1;
  return chunks->claimed++;
}

template <typename Wanted>
void search_chunk(recovery* searcher, page_chunks* chunks, uint32_t chunk, uint32_t pages,
                  const Wanted& wanted) {
  chunk_slot& slot = chunks->slots[chunk % chunks_ahead];
  slot.count = 0;
  searcher->defer_to(&slot.finds, &slot.count);
  const uint32_t first = chunk * chunk_pages + 1;
  for (uint32_t n = first; n < first + chunk_pages && n <= pages; ++n)
    if (wanted(n)) searcher->recover_page(n);
  searcher->defer_to(nullptr, nullptr);
  std::lock_guard<std::mutex> guard(chunks->lock);
  slot.done = true;
  chunks->changed.notify_all();
}

void show_progress(deep_state* s, uint32_t number);

// Prints the chunks searched so far, in order.
void print_ready(deep_state* s, recovery* printer, page_chunks* chunks) {
  for (;;) {
    chunk_slot* slot;
    {
      std::lock_guard<std::mutex> guard(chunks->lock);
      if (chunks->printed >= chunks->total) return;
      slot = &chunks->slots[chunks->printed % chunks_ahead];
      if (!slot->done) return;
    }
    for (size_t i = 0; i < slot->count; ++i) printer->print(slot->finds[i]);
    show_progress(s, (chunks->printed + 1) * chunk_pages);
    std::lock_guard<std::mutex> guard(chunks->lock);
    slot->done = false;
    chunks->printed += 1;
    chunks->changed.notify_all();
  }
}

template <typename Wanted>
void search_pages(deep_state* s, recovery* main_pass, recovery* helper_pass, const Wanted& wanted) {
  const uint32_t pages = static_cast<uint32_t>(s->map.size());
  page_chunks chunks;
  chunks.total = (pages + chunk_pages - 1) / chunk_pages;
  std::thread helper;
  if (two_processors())
    helper = std::thread([&] {
      for (int64_t c; (c = claim_chunk(&chunks, true)) >= 0;)
        search_chunk(helper_pass, &chunks, static_cast<uint32_t>(c), pages, wanted);
    });
  for (;;) {
    print_ready(s, main_pass, &chunks);
    const int64_t c = claim_chunk(&chunks, false);
    if (c >= 0) {
      search_chunk(main_pass, &chunks, static_cast<uint32_t>(c), pages, wanted);
      continue;
    }
    std::unique_lock<std::mutex> guard(chunks.lock);
    if (chunks.printed >= chunks.total) break;
    chunks.changed.wait(guard, [&] {
      return chunks.slots[chunks.printed % chunks_ahead].done ||
             (chunks.claimed < chunks.total && chunks.claimed - chunks.printed < chunks_ahead);
    });
  }
  if (helper.joinable()) helper.join();
}

void show_progress(deep_state* s, uint32_t number) {
  if (!s->g) return;
  s->g->page_number = std::max<int64_t>(s->g->page_number, number);
  progress_update(s->g);
}

}  // namespace

void recover_deleted(deep_state* s) {
  seal_live(&s->memory);
  carve_settings settings{};
  settings.limits.usable = s->store.usable;
  settings.limits.max_fields = 1;
  for (const table_def& table : s->db_schema.tables)
    settings.limits.max_fields = std::max<uint32_t>(settings.limits.max_fields,
                                                    static_cast<uint32_t>(table.columns.size()));
  settings.encoding = s->header.encoding;
  settings.schema_format = s->header.schema_format;
  carve_tables tables;
  build_carve_tables(s->db_schema, s->memory.fewest_fields, &tables);
  recovery pass(s, &tables, &settings);
  recovery helper_pass(s, &tables, &settings);
  list_older_images(s);
  const auto schema_page = [&](uint32_t n) {
    return n >= 1 && n <= s->map.size() && s->map[n - 1].owner == 0 && !s->map[n - 1].index_entries &&
           (s->map[n - 1].role == page_role::table_leaf || s->map[n - 1].role == page_role::table_interior);
  };
  // The schema's own free space and older images first: a dropped table's
  // schema row gives the columns of its rows elsewhere.
  for (const older_image& image : s->logs.older)
    if (schema_page(image.page)) pass.recover_image(image);
  for (uint32_t n = 1; n <= s->map.size(); ++n)
    if (schema_page(n)) pass.recover_page(n);
  add_dropped_tables(s, pass.deleted_schema_rows(), &tables);
  for (const table_def& table : s->db_schema.tables)
    settings.limits.max_fields = std::max<uint32_t>(settings.limits.max_fields,
                                                    static_cast<uint32_t>(table.columns.size()));
  // Older images before free space: a row they hold whole, with its rowid,
  // is printed with its status before a carved copy could stand for it.
  for (const older_image& image : s->logs.older)
    if (!schema_page(image.page)) pass.recover_image(image);
  search_pages(s, &pass, &helper_pass, [&](uint32_t n) { return !schema_page(n); });
}
