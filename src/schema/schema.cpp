#include "schema/schema.h"

#include <string>

table_def unparsed_table(std::string_view name, uint32_t column_count) {
  table_def t;
  t.name = std::string(name);
  t.columns.resize(column_count);
  t.storage_order.resize(column_count);
  for (uint32_t i = 0; i < column_count; ++i) {
    t.columns[i].name = "c" + std::to_string(i + 1);
    t.storage_order[i] = i;
  }
  return t;
}

const table_def& sqlite_master_table() {
  static const table_def master = [] {
    table_def t;
    parse_create_table(
        "CREATE TABLE sqlite_master(type text, name text, tbl_name text, rootpage int, sql text)", &t);
    return t;
  }();
  return master;
}
