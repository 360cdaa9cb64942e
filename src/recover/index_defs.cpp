#include "recover/index_defs.h"

#include <algorithm>
#include <string>

#include "recover/carved_record.h"
#include "recover/cell_parse.h"
#include "format/btree_page.h"
#include "format/cell.h"
#include "schema/sql_lexer.h"

namespace {

// The column of `table` a key term names, -1 when the term is an expression.
int32_t term_column(const std::vector<token>& term, const table_def& table) {
  if (term.empty() || !term[0].is_name()) return -1;
  const bool plain = term.size() == 1 || term[1].is(kw::collate) || term[1].is(kw::asc) || term[1].is(kw::desc);
  if (!plain) return -1;
  const std::string name = sql_dequote(term[0].text);
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (sql_iequal(table.columns[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

// The number of values of the first entry of the index rooted at `root`.
uint32_t first_entry_fields(const page_store& store, uint32_t root) {
  btree_page page{};
  uint32_t offset = 0;
  cell_info cell{};
  if (!read_btree_page(store_page(store, root), root, store.usable, &page) || is_table_type(page.type) ||
      !cell_offset(page, 0, &offset) || !read_cell(page.bytes, page.type, store.usable, offset, page.usable, &cell))
    return 0;
  carved_record rec;
  if (!parse_record_header(page.bytes, static_cast<uint32_t>(cell.payload_offset),
                           static_cast<uint32_t>(cell.payload_offset + cell.local_size), 2000, &rec))
    return 0;
  return static_cast<uint32_t>(rec.fields.size());
}

void add_column(const table_def& table, int32_t column, index_def* out) {
  column_def c;
  if (column >= 0) {
    c = table.columns[column];
    c.not_null = false;
    c.primary_key = false;
    c.has_default = false;
    c.default_value = {};
  } else {
    c.name = "expr" + std::to_string(out->def.columns.size() + 1);
  }
  out->columns.push_back(column);
  out->def.storage_order.push_back(static_cast<uint32_t>(out->def.columns.size()));
  out->def.columns.push_back(std::move(c));
}

}  // namespace

bool index_key_columns(std::string_view sql, const table_def& table, std::vector<int32_t>* columns) {
  columns->clear();
  sql_lexer lexer(sql);
  token t = lexer.next();
  while (!t.is(token_kind::end) && !t.is(kw::on)) t = lexer.next();
  while (!t.is(token_kind::end) && !t.is(token_kind::lp)) t = lexer.next();
  if (!t.is(token_kind::lp)) return false;
  std::vector<token> term;
  int depth = 1;
  for (t = lexer.next(); !t.is(token_kind::end) && !t.is(token_kind::illegal); t = lexer.next()) {
    if (t.is(token_kind::lp)) ++depth;
    if (t.is(token_kind::rp)) --depth;
    if (depth == 0 || (depth == 1 && t.is(token_kind::comma))) {
      columns->push_back(term_column(term, table));
      term.clear();
      if (depth == 0) return true;
      continue;
    }
    term.push_back(t);
  }
  return false;
}

index_def make_index_def(const schema_object& object, const schema& db_schema, const page_store& store) {
  index_def out;
  out.def.name = object.name;
  out.def.parsed = true;
  for (const schema_object& other : db_schema.objects)
    if (other.type == object_type::table && sql_iequal(other.name, object.table_name)) out.table = other.table;
  if (out.table < 0 || static_cast<size_t>(out.table) >= db_schema.tables.size()) {
    out.loose = true;
    out.table = -1;
    return out;
  }
  const table_def& table = db_schema.tables[out.table];
  out.rowid_suffix = !table.without_rowid;
  std::vector<int32_t> key;
  const uint32_t fields = object.sql.empty() ? first_entry_fields(store, object.root_page) : 0;
  if (!object.sql.empty()) {
    if (!index_key_columns(object.sql, table, &key)) key.clear();
  } else if (!table.without_rowid && fields == table.primary_key.size() + 1) {
    key.assign(table.primary_key.begin(), table.primary_key.end());
  }
  out.loose = key.empty();
  if (out.loose) key.assign(fields > (out.rowid_suffix ? 1u : 0u) ? fields - (out.rowid_suffix ? 1 : 0) : 0, -1);
  for (const int32_t column : key) add_column(table, column, &out);
  // A WITHOUT ROWID table's index entry ends with the primary key columns
  // the key does not hold.
  if (!out.loose && table.without_rowid)
    for (const uint32_t pk : table.primary_key)
      if (std::find(key.begin(), key.end(), static_cast<int32_t>(pk)) == key.end())
        add_column(table, static_cast<int32_t>(pk), &out);
  return out;
}
