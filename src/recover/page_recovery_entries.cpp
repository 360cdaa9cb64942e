// The index entries the recovery keeps: printed after every row, those that
// no live row and no printed row explains.
#include <algorithm>

#include "recover/page_recovery.h"
#include "live/row_values.h"
#include "format/btree_search.h"
#include "format/payload.h"
#include "format/record.h"

void recovery::keep_index_entry(const carved_record& rec, int32_t index, region_kind kind) {
  found_record& f = index_finds_.emplace_back();
  assign_record(&f.rec, rec);
  f.table = index;
  f.kind = kind;
  f.page = page_;
  f.page_offset = page_offset_;
  f.bytes = bytes_;
  f.role = role_;
  f.origin = origin_;
  f.older = older_;
  f.older_source = older_source_;
}

// Whether the live row of the entry's rowid holds its key. An index of a
// table without rowid has its live entries read instead.
bool recovery::live_row_explains(const index_def& def, int32_t index, std::span<const value_view> entry_key,
                                 bool has_rowid, int64_t rowid, uint64_t keyed) {
  if (!def.rowid_suffix) {
    read_live_entries(&s_->indexes, index, s_->store, s_->map, s_->header.encoding);
    return s_->indexes.keyed.contains(keyed);
  }
  if (!has_rowid || def.table < 0) return false;
  const table_def& table = s_->db_schema.tables[def.table];
  const uint32_t root = static_cast<size_t>(def.table) < s_->table_roots.size() ? s_->table_roots[def.table] : 0;
  rowid_hit hit{};
  if (root == 0 || !find_rowid(store_reader(s_->store), root, s_->store.usable, rowid, &hit)) return false;
  const payload_view payload = gather_payload(s_->store, hit.page.bytes, hit.cell, &chain_, nullptr);
  std::vector<value_view> record, columns, key;
  if (!parse_record_prefix(payload.bytes, hit.cell.payload_size, s_->header.encoding, &record)) return false;
  table_row_values(table, record, true, rowid, &columns);
  // An expression's value is not recomputed: the entry's own stands.
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const int32_t column = def.columns[i];
    key.push_back(column < 0 ? entry_key[i]
                             : static_cast<size_t>(column) < columns.size() ? columns[column] : unknown_value());
  }
  std::vector<value_view> shown;
  table_row_values(def.def, key, false, 0, &shown);
  return entry_hash(index, shown, true, rowid) == keyed;
}

void recovery::print_index_entries() {
  for (const found_record& f : index_finds_) print_index_entry(f);
  index_finds_.clear();
}

// An entry is printed under its index's name, with its key values and its
// rowid, unless a live entry or a printed row holds the same.
void recovery::print_index_entry(const found_record& f) {
  const int32_t index = f.table - index_base;
  if (index < 0 || static_cast<size_t>(index) >= s_->indexes.defs.size()) return;
  const index_def& def = s_->indexes.defs[index];
  page_ = f.page;
  bytes_ = f.bytes;
  uint32_t broken_at = 0;
  const byte_view payload = payload_of(f.rec, &broken_at);
  decode_fields(f.rec, payload, &search_values_);
  std::vector<value_view>& key = s_->emitter.columns;
  bool has_rowid = false;
  int64_t rowid = 0;
  // An entry is printed whole or not at all: a part of one names no row.
  if (!entry_values(def, search_values_, &key, &has_rowid, &rowid) || !record_has_substance(key) ||
      (def.rowid_suffix && !has_rowid) ||
      std::any_of(key.begin(), key.end(), [](const value_view& v) { return v.kind == value_kind::unknown; }))
    return;
  const uint64_t keyed = entry_hash(index, key, has_rowid, rowid);
  if (live_row_explains(def, index, key, has_rowid, rowid, keyed)) return;
  if (s_->indexes.keyed.contains(keyed) || s_->indexes.unkeyed.contains(entry_hash(index, key, false, 0))) return;
  s_->indexes.keyed.insert(keyed);
  note_overlap(f.rec);
  s_->emitter.record.assign(key.begin(), key.end());
  emit_row(&s_->emitter, &def.def,
           {row_status::deleted, f.older ? f.older_source : source_of(f.role, f.kind, f.origin), f.page,
            f.page_offset + f.rec.cell_start, has_rowid, rowid, reading_of(f.rec),
            assumption_of(f.rec)});
}

