// The deep mode's CSV output, read back for tests, and the same rows as the
// SQLite library reads them, both in one canonical form:
//   rowid|value|value|...   with values as NULL, I:<int>, R:<%.17g>, T:<utf-8>,
//   B:<HEX> and U: for a value the tool could not recover.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

struct deep_csv_row {
  bool has_table = false;
  std::string table;
  std::string status;
  std::string source;
  std::string reading;  // cell, rebuilt or inferred
  uint64_t page = 0;
  uint64_t offset = 0;
  std::string rowid;
  std::vector<std::string> values;  // as printed
};

// Parses the whole output (RFC 4180 quoting, line breaks inside quotes).
// Adds a test failure for a line that is not well formed.
std::vector<deep_csv_row> parse_deep_csv(const std::string& out);

// A printed value in canonical form (a real is checked to carry a '.' or an
// exponent, or to be Inf/-Inf).
std::string canonical_field(const std::string& field);

// The canonical lines of a table's rows with the given status.
std::vector<std::string> deep_lines(const std::vector<deep_csv_row>& rows, const std::string& table,
                                    const std::string& status = "live");

// The canonical lines of SELECT rowid, * FROM table (SELECT * for WITHOUT
// ROWID tables, with an empty rowid), as the library returns them.
std::vector<std::string> sqlite_lines(const std::string& db, const std::string& table);

// The same through an open handle.
std::vector<std::string> handle_lines(sqlite3* db, const std::string& table);

// Column i of the statement's row in canonical form.
std::string canonical_column(sqlite3_stmt* stmt, int i);

// The names of the tables whose rows SELECT can read: sqlite_master and
// every table of the schema that is not virtual.
std::vector<std::string> sqlite_tables(const std::string& db);

// The lines of standard error without the deep mode's summary lines
// ("sarvek: NAME: 3 live, 1 deleted", "sarvek: NAME: no rows").
std::vector<std::string> note_lines(const std::string& err);
