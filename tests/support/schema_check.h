// Compares a parsed table definition with what the real SQLite library says
// about the same table.
#pragma once
#include <sqlite3.h>

#include <string>
#include <vector>

#include "schema/table_def.h"

// An in-memory database.
struct memory_db {
  memory_db();
  ~memory_db();
  memory_db(const memory_db&) = delete;
  memory_db& operator=(const memory_db&) = delete;
  // Prepares and runs the first statement of sql only, as the library does
  // with a schema's text; false (and *error set) when the library refuses.
  bool run_first(const std::string& sql, std::string* error = nullptr);
  bool exec(const std::string& sql, std::string* error = nullptr);
  // Every column of every row, as text (NULL as "NULL").
  std::vector<std::vector<std::string>> rows(const std::string& sql);
  sqlite3* db = nullptr;
};

// The tables of main and temp: name and stored sql.
struct stored_table {
  std::string name;
  std::string sql;
};
std::vector<stored_table> stored_tables(memory_db& db);

// Empty when the library's view of table `name` equals t; otherwise the
// differences, one per line. Checks the columns (name, declared type, NOT
// NULL, primary key position, generated kind), WITHOUT ROWID, STRICT, the
// rowid alias and the order of the values in a record.
std::string compare_with_library(memory_db& db, const std::string& name, const table_def& t);

// A one-line account of a table_def, for equality checks and messages.
std::string describe(const table_def& t);
