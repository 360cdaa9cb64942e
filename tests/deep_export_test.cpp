// --export= end to end: the database it writes opens in the sqlite3 shell,
// holds the same rows as the CSV (live, deleted and from the log), and
// records the inputs' SHA-256 as sha256sum computes them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

// The export's rows of one table in the CSV's canonical form: the rowid,
// then the source columns (the sarvek_ columns left out), with the status,
// source and reading in front. A NULL that sarvek_unrecovered names is a
// value that was not recovered (U:, an empty CSV field).
std::vector<std::string> export_lines(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::vector<std::string> lines;
  if (sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db);
  }
  int first = 0, unrecovered = -1, rowid = -1;
  for (; stmt && std::string(sqlite3_column_name(stmt, first)).rfind("sarvek_", 0) == 0; ++first) {
    const std::string name = sqlite3_column_name(stmt, first);
    if (name == "sarvek_unrecovered") unrecovered = first;
    if (name == "sarvek_rowid") rowid = first;
  }
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string line = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) + "/" +
                       reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)) + "/" +
                       reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2)) + " ";
    line += sqlite3_column_type(stmt, rowid) == SQLITE_NULL ? "" : std::to_string(sqlite3_column_int64(stmt, rowid));
    const std::string lost = reinterpret_cast<const char*>(sqlite3_column_text(stmt, unrecovered));
    for (int i = first; i < sqlite3_column_count(stmt); ++i) {
      const std::string name = "\"" + std::string(sqlite3_column_name(stmt, i)) + "\"";
      const bool named = ("," + lost + ",").find("," + name + ",") != std::string::npos;
      line += "|" + (named && sqlite3_column_type(stmt, i) == SQLITE_NULL ? "U:" : canonical_column(stmt, i));
    }
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
    for (const std::string& v : row.values) line += "|" + canonical_field(v);
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
  // Deleted and checkpointed: these rows survive only in freeblocks, their
  // ids (the rowid) lost.
  run_sql(h, "DELETE FROM \"odd \"\"name\"\"\" WHERE id % 10 = 3; PRAGMA wal_checkpoint(TRUNCATE);");
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
  // Some values were not recovered: the export names them, and they are not NULL.
  size_t unrecovered = 0;
  for (const std::string& line : csv_lines(rows, "odd \"name\"")) unrecovered += line.find("|U:") != std::string::npos;
  EXPECT_GT(unrecovered, 0u);
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

namespace {

// The names in `folder` that begin with `prefix`.
std::vector<std::string> names_beginning(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// The export appears only when it is whole: a run killed while it writes
// leaves no export (its partial file is left aside, never reused), a run
// that fails removes its partial file, and a second run with the same name
// succeeds.
TEST(DeepExport, AppearsOnlyWhenWhole) {
  scratch_dir dir;
  const std::string db = dir.file("big.db");
  sqlite3* h = open_layout_db(db, {4096, "UTF-8", 0, "NONE"});
  run_sql(h, "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b INT);"
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
             "INSERT INTO t SELECT i, 'row number ' || i || ' of the table', i * 7 FROM n;");
  sqlite3_close(h);
  const std::string out = dir.file("out.db");

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    execl(sarvek_path(), "sarvek", "-i", db.c_str(), "--deep", ("--export=" + out).c_str(), nullptr);
    _exit(127);
  }
  // Kill it once the partial file holds rows.
  bool killed = false;
  for (int i = 0; i < 20000 && !killed; ++i) {
    for (const std::string& name : names_beginning(dir.path, "out.db.partial-"))
      if (std::filesystem::file_size(dir.file(name)) > 0) killed = kill(child, SIGKILL) == 0;
    if (!killed) usleep(1000);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(killed && WIFSIGNALED(status)) << "the run ended before it could be killed";
  EXPECT_FALSE(std::filesystem::exists(out));
  const std::vector<std::string> left = names_beginning(dir.path, "out.db.partial-");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(std::filesystem::status(dir.file(left[0])).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A run that fails after the export was opened removes its partial file.
  const run_result failed = run_sarvek({"-i", db, "--deep", "--wal=" + dir.file("missing"), "--export=" + out});
  EXPECT_EQ(failed.status, 1);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(names_beginning(dir.path, "out.db.partial-"), left);

  const run_result again = run_sarvek({"-i", db, "--deep", "--export=" + out});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(run_program({"sqlite3", out, "PRAGMA quick_check; SELECT count(*) FROM t"}).out, "ok\n300000\n");
  EXPECT_EQ(names_beginning(dir.path, "out.db.partial-"), left);
}

namespace {

// sarvek_pending of the live rows of t, by id, as "delete" or "update".
std::map<int64_t, std::string> pending_flags(const std::string& out) {
  std::map<int64_t, std::string> flags;
  sqlite3* db = nullptr;
  sqlite3_open_v2(out.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT sarvek_rowid, sarvek_pending FROM t WHERE sarvek_status = 'live'"
                         " AND sarvek_pending IS NOT NULL", -1, &stmt, nullptr);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
    flags[sqlite3_column_int64(stmt, 0)] = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return flags;
}

}  // namespace

// The log's commits and the transaction that never committed, in the
// export: every row carries the commit it was read from, the commit list
// matches the log, and the live rows that the open transaction deleted or
// changed are flagged so (under a write-ahead log and under a hot journal).
TEST(DeepExport, CommitsAndPendingChanges) {
  scratch_dir dir;
  for (const char* mode : {"WAL", "DELETE"}) {
    SCOPED_TRACE(mode);
    const std::string db = dir.file(std::string(mode) + ".db");
    sqlite3* h = open_layout_db(db, {1024, "UTF-8", 0, "NONE"});
    run_sql(h, std::string("PRAGMA journal_mode=") + mode + "; PRAGMA wal_autocheckpoint=0;"
               "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT);");
    for (int i = 0; i < 6; ++i)
      run_sql(h, "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 40)"
                 " INSERT INTO t(name) SELECT 'commit " + std::to_string(i) + " row ' || x FROM n;");
    run_sql(h, "PRAGMA cache_size=2; BEGIN; DELETE FROM t WHERE id % 3 = 0;"
               "UPDATE t SET name = 'changed' WHERE id % 5 = 0;");
    const std::string copy = dir.file(std::string(mode) + "-copy.db");
    for (const char* suffix : {"", "-wal", "-journal"})
      if (std::filesystem::exists(db + suffix)) std::filesystem::copy_file(db + suffix, copy + suffix);
    run_sql(h, "ROLLBACK;");
    sqlite3_close(h);
    const std::string out = dir.file(std::string(mode) + "-out.db");
    const run_result r = run_sarvek({"-i", copy, "--deep", "--export=" + out});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::map<int64_t, std::string> flags = pending_flags(out);
    for (const auto& [id, flag] : flags)
      EXPECT_EQ(flag, id % 3 == 0 ? "delete" : id % 5 == 0 ? "update" : "none") << id;
    EXPECT_GT(flags.size(), 240u / 3) << "most changes of the open transaction reached the file";
    if (std::string(mode) == "DELETE") continue;
    // Commits 1..7 (the table, then six inserts); commit 0 is the file.
    EXPECT_EQ(run_program({"sqlite3", out, "SELECT group_concat(commit_number) FROM sarvek_commits"}).out,
              "0,1,2,3,4,5,6,7\n");
    EXPECT_EQ(run_program({"sqlite3", out,
                           "SELECT count(*) FROM sarvek_frames f JOIN sarvek_commits c"
                           " ON f.frame BETWEEN c.first_frame AND c.last_frame AND f.commit_number = c.commit_number"})
                  .out,
              run_program({"sqlite3", out, "SELECT count(*) FROM sarvek_frames WHERE typeof(commit_number) = 'integer'"})
                  .out);
    EXPECT_NE(run_program({"sqlite3", out, "SELECT count(*) FROM sarvek_frames WHERE commit_number = 'uncommitted'"}).out,
              "0\n");
    // Live rows come from commits 1..7 of the log (or 0, the file); the
    // rows of the open transaction from no commit.
    EXPECT_EQ(run_program({"sqlite3", out,
                           "SELECT count(*) FROM t WHERE (sarvek_status = 'live' AND NOT sarvek_commit BETWEEN 0 AND 7)"
                           " OR (sarvek_status = 'uncommitted' AND sarvek_commit IS NOT NULL)"})
                  .out,
              "0\n");
  }
}
