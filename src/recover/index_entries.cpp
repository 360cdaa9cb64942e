#include "recover/index_entries.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "live/row_values.h"
#include "format/btree_page.h"
#include "format/cell.h"
#include "format/record.h"

namespace {

uint64_t mix_in(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h * 0xFF51AFD7ED558CCDull;
}

uint64_t mix_bytes(uint64_t h, byte_view bytes) {
  for (const uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
  return mix_in(h, bytes.size());
}

uint64_t value_hash(uint64_t h, const value_view& v) {
  switch (v.kind) {
    case value_kind::integer: return mix_in(mix_in(h, 1), static_cast<uint64_t>(v.integer));
    case value_kind::real: {
      // An integral real compares equal to the integer the library may store for it.
      if (v.real == std::trunc(v.real) && std::fabs(v.real) < 9.0e15)
        return mix_in(mix_in(h, 1), static_cast<uint64_t>(static_cast<int64_t>(v.real)));
      uint64_t bits = 0;
      memcpy(&bits, &v.real, 8);
      return mix_in(mix_in(h, 2), bits);
    }
    case value_kind::text: return mix_bytes(mix_in(h, 3), v.bytes);
    case value_kind::blob: return mix_bytes(mix_in(h, 4), v.bytes);
    case value_kind::null: return mix_in(h, 5);
    case value_kind::unknown: return mix_in(h, 6);
  }
  return h;
}

}  // namespace

void index_tables(index_state* state, size_t table_count) {
  state->by_table.assign(table_count, {});
  state->live_read.assign(state->defs.size(), 0);
  for (size_t i = 0; i < state->defs.size(); ++i) {
    const index_def& def = state->defs[i];
    if (def.loose || def.table < 0 || static_cast<size_t>(def.table) >= table_count) continue;
    if (std::find(def.columns.begin(), def.columns.end(), -1) != def.columns.end()) continue;
    state->by_table[def.table].push_back(static_cast<int32_t>(i));
  }
}

uint64_t entry_hash(int32_t index, std::span<const value_view> values, bool has_rowid, int64_t rowid) {
  uint64_t h = mix_in(0x6A09E667F3BCC909ull, static_cast<uint64_t>(index));
  for (const value_view& v : values) h = value_hash(h, v);
  return has_rowid ? mix_in(mix_in(h, 7), static_cast<uint64_t>(rowid)) : h;
}

void explain_by_row(index_state* state, int32_t table, std::span<const value_view> columns, bool has_rowid,
                    int64_t rowid) {
  if (table < 0 || static_cast<size_t>(table) >= state->by_table.size()) return;
  value_view key[64];
  for (const int32_t index : state->by_table[table]) {
    const index_def& def = state->defs[index];
    if (def.columns.size() > 64) continue;
    size_t n = 0;
    for (const int32_t column : def.columns)
      key[n++] = static_cast<size_t>(column) < columns.size() ? columns[column] : unknown_value();
    const std::span<const value_view> values(key, n);
    if (has_rowid || !def.rowid_suffix) state->keyed.insert(entry_hash(index, values, def.rowid_suffix, rowid));
    else state->unkeyed.insert(entry_hash(index, values, false, 0));
  }
}

bool entry_values(const index_def& def, std::span<const value_view> record, std::vector<value_view>* key,
                  bool* has_rowid, int64_t* rowid) {
  const size_t n = def.columns.size();
  if (record.size() != n + (def.rowid_suffix ? 1 : 0)) return false;
  table_row_values(def.def, record.first(n), false, 0, key);
  *has_rowid = def.rowid_suffix && record[n].kind == value_kind::integer;
  *rowid = *has_rowid ? record[n].integer : 0;
  return true;
}

void read_live_entries(index_state* state, int32_t index, const page_store& store, const page_map& map,
                       text_encoding encoding) {
  if (state->live_read[index]) return;
  state->live_read[index] = 1;
  const index_def& def = state->defs[index];
  std::vector<value_view> record, key;
  for (uint32_t n = 1; n <= map.size(); ++n) {
    const page_entry& entry = map[n - 1];
    if (entry.index != index || (entry.role != page_role::index_leaf && entry.role != page_role::index_interior))
      continue;
    btree_page page{};
    if (!read_btree_page(store_page(store, n), n, store.usable, &page)) continue;
    for (uint32_t i = 0; i < page.cell_count; ++i) {
      uint32_t offset = 0;
      cell_info cell{};
      if (!cell_offset(page, i, &offset) ||
          !read_cell(page.bytes, page.type, store.usable, offset, page.usable, &cell) ||
          cell.local_size != cell.payload_size)
        continue;
      const byte_view payload = page.bytes.subspan(cell.payload_offset, cell.local_size);
      bool has_rowid = false;
      int64_t rowid = 0;
      if (!parse_record_prefix(payload, cell.payload_size, encoding, &record) ||
          !entry_values(def, record, &key, &has_rowid, &rowid))
        continue;
      state->keyed.insert(entry_hash(index, key, has_rowid, rowid));
    }
  }
}
