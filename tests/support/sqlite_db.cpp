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

}  // namespace

void exec_db(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return;
  }
  run_sql(db, "PRAGMA secure_delete=OFF;");
  run_sql(db, sql);
  sqlite3_close(db);
}

void make_db(const std::string& path, const std::string& sql, int page_size) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  exec_db(path, "PRAGMA page_size=" + std::to_string(page_size) +
                    "; PRAGMA journal_mode=DELETE; PRAGMA auto_vacuum=NONE;\n" + sql);
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
