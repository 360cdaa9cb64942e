#include "sink/export_table.h"

#include <sqlite3.h>

#include <vector>

void statement_finalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

bool exec_sql(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

statement_ptr prepare_kept(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement_ptr(statement);
}

std::string create_table_sql(std::string_view name, std::span<const std::string> columns) {
  std::string sql = "CREATE TABLE " + quote_identifier(name) + "(";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) sql += ", ";
    sql += quote_identifier(columns[i]);
  }
  return sql + ")";
}

std::string insert_sql(std::string_view name, uint32_t n) {
  std::string sql = "INSERT INTO " + quote_identifier(name) + " VALUES(";
  for (uint32_t i = 0; i < n; ++i) sql += i ? ",?" : "?";
  return sql + ")";
}

bool create_export_table(sqlite3* db, export_table* table, std::span<const std::string_view> fixed,
                         std::span<const std::string> value_names, uint32_t limit) {
  std::vector<std::string> columns;
  for (std::string_view name : fixed) columns.push_back(table->column_names.claim(name));
  for (const std::string& name : value_names) {
    if (columns.size() >= limit) break;
    columns.push_back(table->column_names.claim(clean_name(name)));
  }
  table->fixed = static_cast<uint32_t>(fixed.size());
  table->values = static_cast<uint32_t>(columns.size() - fixed.size());
  if (!exec_sql(db, create_table_sql(table->name, columns))) return false;
  table->insert = prepare_kept(db, insert_sql(table->name, table->fixed + table->values));
  return table->insert != nullptr;
}

bool widen_export_table(sqlite3* db, export_table* table, uint32_t values) {
  table->insert.reset();  // a statement of the old width must not outlive the change
  const std::string prefix = "ALTER TABLE " + quote_identifier(table->name) + " ADD COLUMN ";
  for (; table->values < values; ++table->values) {
    const std::string column =
        table->column_names.claim("c" + std::to_string(table->first_number + table->values));
    if (!exec_sql(db, prefix + quote_identifier(column))) return false;
  }
  table->insert = prepare_kept(db, insert_sql(table->name, table->fixed + table->values));
  return table->insert != nullptr;
}
