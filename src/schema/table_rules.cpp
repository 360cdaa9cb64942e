// What a table's columns and clauses mean together: the rowid alias, the
// primary key, the order of the values in a record, the defaults.
#include <set>
#include <string>
#include <unordered_set>
#include <utility>

#include "schema/create_table.h"
#include "schema/sql_lexer.h"

namespace {

bool has_duplicate_names(const table_def& t) {
  std::unordered_set<std::string> names;
  for (const column_def& col : t.columns)
    if (!names.insert(sql_lower(col.name)).second) return true;
  return false;
}

bool apply_strict_types(const table_clauses& c, table_def* t) {
  for (size_t i = 0; i < t->columns.size(); ++i) {
    column_def& col = t->columns[i];
    col.strict = strict_type_of(c.standard_types[i]);
    if (col.strict == strict_type::none) return false;
    if (col.strict == strict_type::any) col.column_affinity = affinity::blob;
  }
  return true;
}

// A WITHOUT ROWID table keys each (column, collation) pair once.
std::vector<uint32_t> without_rowid_key(const table_clauses& c) {
  std::vector<uint32_t> columns;
  std::set<std::pair<uint32_t, std::string>> seen;
  for (const key_term& term : c.key) {
    const std::string& coll = term.collation.empty() ? c.collations[term.column] : term.collation;
    if (seen.emplace(term.column, sql_lower(coll)).second) columns.push_back(term.column);
  }
  return columns;
}

std::vector<uint32_t> record_order(const table_def& t) {
  std::vector<uint32_t> order;
  std::vector<bool> in_key(t.columns.size(), false);
  if (t.without_rowid) {
    order = t.primary_key;
    for (uint32_t i : t.primary_key) in_key[i] = true;
  }
  for (uint32_t i = 0; i < t.columns.size(); ++i) {
    const column_def& col = t.columns[i];
    if ((col.generated && !col.stored) || in_key[i]) continue;
    order.push_back(i);
  }
  return order;
}

}  // namespace

bool finish_table(table_clauses* c, table_def* t) {
  if (t->virtual_table) return true;
  if (has_duplicate_names(*t) || c->key_clauses > 1) return false;
  if (t->without_rowid && c->key.empty()) return false;
  if (t->strict && !apply_strict_types(*c, t)) return false;
  for (const key_term& term : c->key) {
    column_def& col = t->columns[term.column];
    if (col.generated) return false;
    col.primary_key = true;
  }
  // The INTEGER PRIMARY KEY: one key column of type INTEGER exactly, unless
  // the column definition itself says PRIMARY KEY DESC.
  if (!t->without_rowid && c->key.size() == 1 &&
      c->standard_types[c->key[0].column] == standard_type::integer &&
      !(c->key_in_column && c->key_desc)) {
    t->rowid_column = static_cast<int>(c->key[0].column);
  }
  if (c->autoincrement && t->rowid_column < 0) return false;
  if (t->without_rowid) {
    t->primary_key = without_rowid_key(*c);
    for (uint32_t i : t->primary_key) t->columns[i].not_null = true;
  } else {
    for (const key_term& term : c->key) t->primary_key.push_back(term.column);
  }
  // STRICT tables refuse NULL in key columns, the rowid alias aside.
  if (t->strict)
    for (uint32_t i : t->primary_key)
      if (static_cast<int>(i) != t->rowid_column) t->columns[i].not_null = true;
  t->storage_order = record_order(*t);
  for (size_t i = 0; i < t->columns.size(); ++i) {
    column_def& col = t->columns[i];
    if (col.has_default) col.default_value = evaluate_default(c->defaults[i], col.column_affinity);
  }
  return true;
}
