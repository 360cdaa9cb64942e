#include "recover/dropped_tables.h"

#include <strings.h>

#include <algorithm>

#include "format/btree_page.h"
#include "format/cell.h"
#include "recover/cell_parse.h"
#include "schema/column_type.h"
#include "schema/cut_statement.h"
#include "schema/sql_lexer.h"
#include "deep/notes.h"

namespace {

// The most columns a table can have.
constexpr uint32_t max_columns = 32767;

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
// that kept their header lead on to their children. Leaves that kept their
// header go to *leaves.
void mark_old_tree(deep_state* s, uint32_t root, int32_t owner, bool index_tree, std::vector<uint32_t>* leaves) {
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
        !read_btree_page(ref, number, s->store.usable, &page) || is_table_type(page.type) == index_tree)
      continue;
    if (is_leaf_type(page.type)) {
      leaves->push_back(number);
      continue;
    }
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

// What the records of a dropped table's old leaves say of its columns: the
// most fields one holds and, by field, whether every record holds NULL there.
struct row_shape {
  uint32_t records = 0;
  uint32_t fields = 0;
  std::vector<bool> always_null;
};

row_shape shape_of_rows(const deep_state& s, const std::vector<uint32_t>& leaves, uint32_t max_fields) {
  row_shape shape;
  carved_record rec;
  for (const uint32_t number : leaves) {
    btree_page page{};
    if (!read_btree_page(store_page(s.store, number), number, s.store.usable, &page)) continue;
    for (uint32_t i = 0; i < page.cell_count; ++i) {
      uint32_t offset = 0;
      cell_info cell{};
      if (!cell_offset(page, i, &offset) ||
          !read_cell(page.bytes, page.type, s.store.usable, offset, page.usable, &cell) ||
          !parse_record_header(page.bytes, cell.payload_offset, cell.payload_offset + cell.local_size, max_fields,
                               &rec, cell.payload_size))
        continue;
      ++shape.records;
      const uint32_t n = static_cast<uint32_t>(rec.fields.size());
      if (n > shape.fields) shape.always_null.resize(n, shape.records == 1);
      shape.fields = std::max(shape.fields, n);
      for (uint32_t f = 0; f < n; ++f) shape.always_null[f] = shape.always_null[f] && rec.fields[f].serial == 0;
    }
  }
  return shape;
}

// The columns of a dropped table whose statement a later write cut: those
// whose definitions survive, the one cut (its name and type where they
// survive; the rowid alias where its text goes on with PRIMARY KEY and every
// row holds NULL there), the rest named by position, c1, c2, ...
bool table_from_cut_statement(const std::string& sql, const row_shape& shape, table_def* out) {
  cut_statement cut;
  if (!parse_cut_statement(sql, &cut) || shape.records == 0 || shape.fields < cut.table.columns.size() ||
      cut.table.without_rowid)
    return false;
  table_def table = std::move(cut.table);
  const uint32_t at = static_cast<uint32_t>(table.columns.size());
  while (table.columns.size() < shape.fields) {
    column_def column;
    column.name = "c" + std::to_string(table.columns.size() + 1);
    table.columns.push_back(std::move(column));
  }
  if (at < shape.fields && !cut.cut_name.empty()) {
    column_def& column = table.columns[at];
    column.name = cut.cut_name;
    column.declared_type = cut.cut_type;
    column.column_affinity = cut.cut_type.empty() ? affinity::blob : type_name_affinity(cut.cut_type);
    if (cut.cut_key_prefix && sql_iequal(cut.cut_type, "INTEGER") && table.rowid_column < 0 &&
        shape.always_null[at]) {
      column.primary_key = true;
      table.rowid_column = static_cast<int>(at);
      table.primary_key = {at};
    }
  }
  table.storage_order.resize(table.columns.size());
  for (uint32_t i = 0; i < table.columns.size(); ++i) table.storage_order[i] = i;
  table.parsed = true;
  table.columns_inferred = true;
  *out = std::move(table);
  return true;
}

}  // namespace

void add_dropped_tables(deep_state* s, const std::vector<schema_object>& rows, carve_tables* tables) {
  std::vector<std::string> added;
  std::vector<uint32_t> leaves;
  for (const schema_object& row : rows) {
    if (row.type != object_type::table || row.name.empty() || live_table_named(s->db_schema, row.name))
      continue;
    if (std::find(added.begin(), added.end(), row.name + '\0' + row.sql) != added.end()) continue;
    const int32_t index = static_cast<int32_t>(s->db_schema.tables.size());
    table_def table;
    leaves.clear();
    if (row.sql_cut) {
      // The old tree's pages are marked first: its rows tell the columns.
      if (row.root_page == 0) continue;
      mark_old_tree(s, row.root_page, index, false, &leaves);
      if (!table_from_cut_statement(row.sql, shape_of_rows(*s, leaves, max_columns), &table)) {
        for (uint32_t n = 1; n <= s->map.size(); ++n)
          if (map_entry(&s->map, n)->owner == index) map_entry(&s->map, n)->owner = -1;
        continue;
      }
      note(&s->notes, "dropped table \"%s\": the end of its CREATE statement was overwritten; its columns are read from its rows, those whose names were lost named by position (c1, c2, ...)",
           row.name.c_str());
    } else if (!parse_create_table(row.sql, &table) || table.virtual_table) {
      continue;
    }
    table.name = row.name;
    added.push_back(row.name + '\0' + row.sql);
    s->db_schema.tables.push_back(std::move(table));
    const table_def& def = s->db_schema.tables.back();
    s->sinks.table(def);
    add_carve_table(def, tables);
    if (row.root_page != 0 && !row.sql_cut) mark_old_tree(s, row.root_page, index, def.without_rowid, &leaves);
  }
}
