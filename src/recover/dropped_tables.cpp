#include "recover/dropped_tables.h"

#include <strings.h>

#include <algorithm>

#include "format/btree_page.h"
#include "format/cell.h"

namespace {

bool live_table_named(const schema& db_schema, const std::string& name) {
  for (const schema_object& object : db_schema.objects)
    if (object.type == object_type::table && strcasecmp(object.name.c_str(), name.c_str()) == 0)
      return true;
  return false;
}

bool free_page(const page_entry& entry) {
  return entry.owner < 0 && (entry.role == page_role::freelist_leaf ||
                             entry.role == page_role::freelist_trunk ||
                             entry.role == page_role::unreached);
}

// Marks the free pages the old tree from `root` reaches; interior pages
// that kept their header lead on to their children.
void mark_old_tree(deep_state* s, uint32_t root, int32_t owner, bool index_tree) {
  std::vector<uint32_t> pending{root};
  while (!pending.empty()) {
    const uint32_t number = pending.back();
    pending.pop_back();
    page_entry* entry = map_entry(&s->map, number);
    if (!entry || !free_page(*entry)) continue;
    entry->owner = owner;
    const page_ref ref = store_page(s->store, number);
    btree_page page{};
    if (entry->role == page_role::freelist_trunk ||
        !read_btree_page(ref, number, s->store.usable, &page) || is_leaf_type(page.type) ||
        is_table_type(page.type) == index_tree)
      continue;
    pending.push_back(page.right_child);
    for (uint32_t i = 0; i < page.cell_count; ++i) {
      uint32_t offset = 0;
      cell_info cell{};
      if (cell_offset(page, i, &offset) &&
          read_cell(page.bytes, page.type, s->store.usable, offset, page.usable, &cell))
        pending.push_back(cell.left_child);
    }
  }
}

}  // namespace

void add_dropped_tables(deep_state* s, const std::vector<schema_object>& rows, carve_tables* tables) {
  std::vector<std::string> added;
  for (const schema_object& row : rows) {
    if (row.type != object_type::table || row.name.empty() || live_table_named(s->db_schema, row.name))
      continue;
    if (std::find(added.begin(), added.end(), row.name + '\0' + row.sql) != added.end()) continue;
    table_def table;
    if (!parse_create_table(row.sql, &table) || table.virtual_table) continue;
    table.name = row.name;
    added.push_back(row.name + '\0' + row.sql);
    const int32_t index = static_cast<int32_t>(s->db_schema.tables.size());
    s->db_schema.tables.push_back(std::move(table));
    const table_def& def = s->db_schema.tables.back();
    s->sinks.table(def);
    add_carve_table(def, tables);
    if (row.root_page != 0) mark_old_tree(s, row.root_page, index, def.without_rowid);
  }
}
