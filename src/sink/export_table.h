// The tables of the export database that hold rows: their columns and their
// cached INSERT statements, and the few SQL helpers they need.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "sink/export_names.h"

struct sqlite3;
struct sqlite3_stmt;

struct statement_finalizer {
  void operator()(sqlite3_stmt* statement) const;
};
using statement_ptr = std::unique_ptr<sqlite3_stmt, statement_finalizer>;

// Runs SQL that returns no rows; false on failure (sqlite3_errmsg tells why).
bool exec_sql(sqlite3* db, const std::string& sql);

// Prepares one statement that is kept for many runs; null on failure.
statement_ptr prepare_kept(sqlite3* db, const std::string& sql);

// "CREATE TABLE name(c1,c2,...)" with every name quoted and no types, so
// that any value keeps its storage class.
std::string create_table_sql(std::string_view name, std::span<const std::string> columns);

// "INSERT INTO name VALUES(?,...)" with n parameters.
std::string insert_sql(std::string_view name, uint32_t n);

struct export_table {
  std::string name;           // as the export names it
  name_set column_names;      // every column, for clashes
  uint32_t fixed = 0;         // sarvek_ columns before the values
  uint32_t values = 0;        // columns for values after them
  uint32_t first_number = 1;  // columns added for longer rows: c<first_number + index>
  statement_ptr insert;       // fixed + values parameters
};

// Creates the table: the fixed columns, then the value columns, named as
// export_names.h describes; at most `limit` columns in all (the values of
// the others go to the export's table of extra values). Prepares the
// INSERT. False on failure.
bool create_export_table(sqlite3* db, export_table* table, std::span<const std::string_view> fixed,
                         std::span<const std::string> value_names, uint32_t limit);

// Adds value columns named c<first_number + index> until the table has
// `values` of them, and prepares the INSERT again. False on failure.
bool widen_export_table(sqlite3* db, export_table* table, uint32_t values);
