#include "support/config_db.h"

#include <gtest/gtest.h>

#include <filesystem>

void run_sql(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    ADD_FAILURE() << "SQLite: " << (message ? message : "?") << "\nin: " << sql.substr(0, 300);
    sqlite3_free(message);
  }
}

sqlite3* open_layout_db(const std::string& path, const db_layout& layout) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return nullptr;
  }
  run_sql(db, std::string("PRAGMA secure_delete=OFF; PRAGMA synchronous=") +
                  (layout.synchronous ? "FULL" : "OFF") + "; PRAGMA journal_mode=DELETE; PRAGMA page_size=" +
                  std::to_string(layout.page_size) + "; PRAGMA encoding='" + layout.encoding +
                  "'; PRAGMA auto_vacuum=" + layout.auto_vacuum + ";");
  int reserve = layout.reserve;
  if (reserve != 0 &&
      sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve) != SQLITE_OK)
    ADD_FAILURE() << "cannot reserve bytes";
  return db;
}

void insert_row(sqlite3* db, const std::string& sql, const std::vector<bound_value>& values) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    return;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    const int at = static_cast<int>(i + 1);
    const bound_value& v = values[i];
    switch (v.kind) {
      case bound_value::integer: sqlite3_bind_int64(stmt, at, v.i); break;
      case bound_value::real: sqlite3_bind_double(stmt, at, v.r); break;
      case bound_value::text:
        sqlite3_bind_text(stmt, at, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
        break;
      case bound_value::blob:
        sqlite3_bind_blob(stmt, at, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
        break;
      case bound_value::null: sqlite3_bind_null(stmt, at); break;
    }
  }
  if (sqlite3_step(stmt) != SQLITE_DONE) ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
  sqlite3_finalize(stmt);
}
