#include "deep/recover.h"

#include <algorithm>

#include "carve/regions.h"
#include "deep/attribution.h"
#include "deep/dropped_tables.h"
#include "deep/schema_load.h"
#include "diagnostics/progress.h"
#include "format/payload.h"
#include "format/record.h"

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

row_source source_of(page_role role, region_kind kind) {
  switch (role) {
    case page_role::freelist_trunk:
    case page_role::freelist_leaf: return row_source::freelist;
    case page_role::unreached: return row_source::lost;
    default: return kind == region_kind::freeblock ? row_source::freeblock : row_source::unallocated;
  }
}

class recovery : public table_judge {
 public:
  recovery(deep_state* s, carve_tables* tables, const carve_settings* settings)
      : table_judge(tables, settings), s_(s), tables_mut_(tables), used_(s->map.size(), 0) {}

  void recover_page(uint32_t number);
  void found(const carved_record& rec, int32_t table, region_kind kind) override;
  std::vector<schema_object>& deleted_schema_rows() { return schema_rows_; }
  carve_tables* tables() { return tables_mut_; }

 private:
  void carve_btree_page(const btree_page& page, bool old);
  void carve_whole(byte_view bytes, uint32_t from);
  byte_view payload_of(const carved_record& rec, bool* cut);
  void decode_fields(const carved_record& rec, byte_view payload);

  deep_state* s_;
  carve_tables* tables_mut_;
  std::vector<uint8_t> used_;
  carve_scratch scratch_;
  std::vector<page_region> regions_;
  std::vector<cell_extent> cells_;
  std::vector<uint8_t> covered_;
  std::vector<uint8_t> chain_;
  std::vector<schema_object> schema_rows_;
  uint32_t page_ = 0;
  uint64_t page_offset_ = 0;
  byte_view bytes_;
  page_role role_ = page_role::unreached;
};

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

void recovery::decode_fields(const carved_record& rec, byte_view payload) {
  std::vector<value_view>& values = s_->emitter.record;
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

void recovery::found(const carved_record& rec, int32_t table, region_kind kind) {
  // A record whose overflow chain a live row still uses is a stale copy of
  // that row, left behind when its cell moved.
  if (rec.overflow_page != 0 && rec.overflow_page <= s_->map.size() &&
      s_->map[rec.overflow_page - 1].role == page_role::overflow)
    return;
  bool cut = false;
  const byte_view payload = payload_of(rec, &cut);
  if (cut)
    note(&s_->notes, "page %u: the deleted record at offset %u continues on a page that is in use or gone; its values from there are left empty",
         page_, rec.cell_start);
  decode_fields(rec, payload);
  std::vector<value_view>& values = s_->emitter.record;
  if (!record_has_substance(values) || (table == 0 && !schema_row_plausible(values))) return;
  if (seen_before(&s_->memory, table, rec.has_rowid, rec.rowid, values)) return;
  const table_def* def = table >= 0 ? &s_->db_schema.tables[table] : nullptr;
  emit_row(&s_->emitter, def,
           {row_status::deleted, source_of(role_, kind), page_, page_offset_ + rec.cell_start,
            rec.has_rowid, rec.rowid});
  s_->map[page_ - 1].rows_recovered += 1;
  if (table == 0) schema_rows_.push_back(schema_object_from(values));
}

void recovery::carve_btree_page(const btree_page& page, bool old) {
  const chain_fault fault = page_regions(page, s_->store.page_count, &regions_, &cells_, &covered_);
  if (fault != chain_fault::none && !old)
    note(&s_->notes, "page %u: the freeblock chain leaves the page or turns back; the rest of it is searched as a gap",
         page.number);
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
  settings.limits.max_fields = 2000;
  settings.encoding = s->header.encoding;
  settings.schema_format = s->header.schema_format;
  carve_tables tables;
  build_carve_tables(s->db_schema, s->memory.fewest_fields, &tables);
  recovery pass(s, &tables, &settings);
  // The schema's own free space first: a dropped table's deleted schema row
  // gives the columns of its rows on the free pages.
  for (uint32_t n = 1; n <= s->map.size(); ++n)
    if (s->map[n - 1].owner == 0 && !s->map[n - 1].index_entries &&
        s->map[n - 1].role != page_role::overflow)
      pass.recover_page(n);
  add_dropped_tables(s, pass.deleted_schema_rows(), &tables);
  for (uint32_t n = 1; n <= s->map.size(); ++n) {
    show_progress(s, n);
    if (s->map[n - 1].owner == 0 && s->map[n - 1].role != page_role::freelist_leaf &&
        s->map[n - 1].role != page_role::freelist_trunk && s->map[n - 1].role != page_role::unreached)
      continue;
    pass.recover_page(n);
  }
}
