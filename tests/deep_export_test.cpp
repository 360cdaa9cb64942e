// --export= end to end: the database it writes opens in the sqlite3 shell,
// holds the same rows as the CSV (live, deleted and from the log), and
// records the inputs' SHA-256 as sha256sum computes them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

// The export's rows of one table in the CSV's canonical form: the rowid,
// then the source columns (the seven sarvek_ columns left out), with the
// status, source and reading in front.
std::vector<std::string> export_lines(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::vector<std::string> lines;
  if (sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db);
  }
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string line = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) + "/" +
                       reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)) + "/" +
                       reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2)) + " ";
    line += sqlite3_column_type(stmt, 6) == SQLITE_NULL ? "" : std::to_string(sqlite3_column_int64(stmt, 6));
    for (int i = 7; i < sqlite3_column_count(stmt); ++i) line += "|" + canonical_column(stmt, i);
    lines.push_back(line);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> csv_lines(const std::vector<deep_csv_row>& rows, const std::string& table) {
  std::vector<std::string> lines;
  for (const deep_csv_row& row : rows) {
    if (row.table != table) continue;
    std::string line = row.status + "/" + row.source + "/" + row.reading + " " + row.rowid;
    for (const std::string& v : row.values) {
      const std::string c = canonical_field(v);
      line += "|" + (c == "U:" ? std::string("NULL") : c);
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string sha256sum(const std::string& path) {
  const run_result r = run_program({"sha256sum", path});
  return r.out.substr(0, 64);
}

}  // namespace

TEST(DeepExport, HoldsTheCsvRowsAndTheInputsHashes) {
  scratch_dir dir;
  const std::string db = dir.file("e.db");
  sqlite3* h = open_layout_db(db, {1024, "UTF-16le", 0, "NONE"});
  run_sql(h, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
             "CREATE TABLE \"odd \"\"name\"\"\"(id INTEGER PRIMARY KEY, t TEXT, r REAL, b BLOB, n);"
             "CREATE TABLE kv(k TEXT PRIMARY KEY, v) WITHOUT ROWID;");
  for (int i = 0; i < 60; ++i)
    run_sql(h, "INSERT INTO \"odd \"\"name\"\"\" VALUES(" + std::to_string(i) + ", 'text é " +
                   std::to_string(i) + "', " + std::to_string(i) + ".5, x'00FF" + (i % 2 ? "AA" : "") +
                   "', " + (i % 3 ? "NULL" : "-7") + "); INSERT INTO kv VALUES('key " + std::to_string(i) +
                   "', " + std::to_string(i * 1000) + ");");
  run_sql(h, "DELETE FROM \"odd \"\"name\"\"\" WHERE id % 4 = 1; UPDATE kv SET v = 'changed' WHERE k < 'key 3';");
  const std::string copy = dir.file("copy.db");
  std::filesystem::copy_file(db, copy);
  std::filesystem::copy_file(db + "-wal", copy + "-wal");
  sqlite3_close(h);

  const std::string out = dir.file("out.db");
  const run_result r = run_sarvek({"-i", copy, "--deep", "--export=" + out});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
  EXPECT_EQ(run_program({"sqlite3", out, "PRAGMA integrity_check"}).out, "ok\n");
  for (const auto& [source, exported] :
       {std::pair<std::string, std::string>{"odd \"name\"", "odd \"\"name\"\""}, {"kv", "kv"}}) {
    const std::vector<std::string> expected = csv_lines(rows, source);
    EXPECT_GT(expected.size(), 30u);
    EXPECT_EQ(export_lines(out, exported), expected) << source;
  }
  EXPECT_EQ(export_lines(out, "src_sqlite_master"), csv_lines(rows, "sqlite_master"));
  const run_result run = run_program({"sqlite3", out,
                                      "SELECT database_sha256, wal_sha256, database_size, encoding, page_size "
                                      "FROM sarvek_run"});
  EXPECT_EQ(run.out, sha256sum(copy) + "|" + sha256sum(copy + "-wal") + "|" +
                         std::to_string(std::filesystem::file_size(copy)) + "|UTF-16le|1024\n");
  // One row of sarvek_pages a page of the current state (as the library
  // counts them, on a copy of its own), one of sarvek_frames a frame.
  const std::string view = dir.file("view.db");
  std::filesystem::copy_file(copy, view);
  std::filesystem::copy_file(copy + "-wal", view + "-wal");
  EXPECT_EQ(run_program({"sqlite3", out, "SELECT count(*) FROM sarvek_pages"}).out,
            run_program({"sqlite3", view, "PRAGMA page_count"}).out);
  EXPECT_EQ(run_program({"sqlite3", out, "SELECT count(*) FROM sarvek_frames"}).out,
            std::to_string((std::filesystem::file_size(copy + "-wal") - 32) / (24 + 1024)) + "\n");
  // The export is never written over.
  const run_result again = run_sarvek({"-i", copy, "--deep", "--export=" + out});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err.rfind("ERROR: ", 0), 0u) << again.err;
}
