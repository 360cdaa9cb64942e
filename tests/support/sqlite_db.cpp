#include "support/sqlite_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

scratch_dir::scratch_dir() {
  std::string templ = (std::filesystem::temp_directory_path() / "sarvek-XXXXXX").string();
  char* made = mkdtemp(templ.data());
  path = made ? made : "";
}

scratch_dir::~scratch_dir() {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

namespace {

void run_sql(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    ADD_FAILURE() << "SQLite: " << (message ? message : "?") << "\nin: " << sql;
    sqlite3_free(message);
  }
}

// Runs the SQL on the database at path; a reserved-byte count other than 0
// is set first (it takes effect on a database without tables).
void run_on(const std::string& path, const std::string& sql, int reserved_bytes) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return;
  }
  run_sql(db, "PRAGMA secure_delete=OFF;");
  if (reserved_bytes != 0 &&
      sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserved_bytes) != SQLITE_OK)
    ADD_FAILURE() << "cannot reserve bytes in " << path;
  run_sql(db, sql);
  sqlite3_close(db);
}

}  // namespace

void exec_db(const std::string& path, const std::string& sql) { run_on(path, sql, 0); }

void make_db(const std::string& path, const std::string& sql, int page_size, int reserved_bytes) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  run_on(path,
         "PRAGMA page_size=" + std::to_string(page_size) +
             "; PRAGMA journal_mode=DELETE; PRAGMA auto_vacuum=NONE;\n" + sql,
         reserved_bytes);
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}
