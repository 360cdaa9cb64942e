#include "deep/row_status.h"

#include "format/btree_search.h"

void find_table_roots(deep_state* s) {
  s->table_roots.assign(s->db_schema.tables.size(), 0);
  if (!s->table_roots.empty()) s->table_roots[0] = 1;
  for (const schema_object& object : s->db_schema.objects)
    if (object.type == object_type::table && object.table > 0 &&
        static_cast<size_t>(object.table) < s->table_roots.size())
      s->table_roots[static_cast<size_t>(object.table)] = object.root_page;
}

row_status status_by_key(const deep_state& s, int32_t table, row_status found, bool has_rowid,
                         int64_t rowid, std::span<const value_view> record) {
  if (found == row_status::uncommitted) return found;
  if (table < 0 || static_cast<size_t>(table) >= s.table_roots.size()) return row_status::deleted;
  const uint32_t root = s.table_roots[static_cast<size_t>(table)];
  const table_def& def = s.db_schema.tables[static_cast<size_t>(table)];
  if (root == 0) return row_status::deleted;
  if (!def.without_rowid) {
    rowid_hit hit{};
    return has_rowid && find_rowid(store_reader(s.store), root, s.store.usable, rowid, &hit)
               ? row_status::superseded
               : row_status::deleted;
  }
  const size_t key_values = def.primary_key.size();
  uint64_t hash = 0;
  if (key_values == 0 || record.size() < key_values || !key_hash(table, record.first(key_values), &hash))
    return row_status::deleted;
  return s.memory.live_keys.contains(hash) ? row_status::superseded : row_status::deleted;
}
