// Databases made by the SQLite library with a chosen layout: page size,
// text encoding, reserved bytes per page and auto-vacuum mode.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

struct db_layout {
  int page_size = 4096;
  std::string encoding = "UTF-8";     // UTF-8, UTF-16le, UTF-16be
  int reserve = 0;                     // bytes at the end of every page
  std::string auto_vacuum = "NONE";    // NONE, FULL, INCREMENTAL
  // The library's syncs are skipped (faster tests); a journal then carries
  // no-sync headers, so tests of the journal's own layout keep them.
  bool synchronous = true;
};

// Creates (replacing) the database with the layout set before its first
// write, secure delete off. Returns the open handle (close it), or null
// after a test failure.
sqlite3* open_layout_db(const std::string& path, const db_layout& layout);

// Runs SQL on an open handle; a test failure on error.
void run_sql(sqlite3* db, const std::string& sql);

// Inserts one row through a prepared statement: values are given as SQL
// literals, except blobs and texts given as bytes with `?` in the SQL.
struct bound_value {
  enum kind_t { integer, real, text, blob, null } kind = null;
  int64_t i = 0;
  double r = 0;
  std::string bytes;
};
void insert_row(sqlite3* db, const std::string& sql, const std::vector<bound_value>& values);

inline bound_value bind_int(int64_t v) { return {bound_value::integer, v, 0, {}}; }
inline bound_value bind_real(double v) { return {bound_value::real, 0, v, {}}; }
inline bound_value bind_text(std::string v) { return {bound_value::text, 0, 0, std::move(v)}; }
inline bound_value bind_blob(std::string v) { return {bound_value::blob, 0, 0, std::move(v)}; }
inline bound_value bind_null() { return {}; }
