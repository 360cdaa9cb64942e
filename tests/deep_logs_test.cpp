// The deep mode with the write-ahead log and the rollback journal, on files
// the SQLite library wrote and that were copied while a connection held
// them open: the current state equals what the library reads from the
// copies, every older version a frame or a journal page holds is printed
// with its status, nothing twice, nothing false; damaged logs never crash.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/provenance.h"
#include "support/ground_truth.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace fs = std::filesystem;

namespace {

const char* const tables[] = {"sqlite_master", "t", "u"};

void copy_files(const std::string& from, const std::string& to) {
  for (const char* suffix : {"", "-wal", "-journal"}) {
    std::error_code ec;
    fs::remove(to + suffix, ec);
    if (fs::exists(from + suffix)) fs::copy_file(from + suffix, to + suffix);
  }
}

// What the library reads from copies of the files (it may roll back or
// check point the copy it opens, so it opens a copy of its own).
std::map<std::string, std::vector<std::string>> library_view(const std::string& files, const std::string& scratch) {
  copy_files(files, scratch);
  std::map<std::string, std::vector<std::string>> live;
  sqlite3* db = nullptr;
  sqlite3_open(scratch.c_str(), &db);
  for (const char* table : tables) live[table] = handle_lines(db, table);
  sqlite3_close(db);
  return live;
}

std::string file_bytes(const std::string& path) {
  const std::vector<uint8_t> b = read_file(path);
  return std::string(b.begin(), b.end());
}

survival_layout layout() {
  survival_layout s;
  s.rowid_alias = {{"t", 0}};
  return s;
}

std::vector<std::string> history(int rounds) {
  std::vector<std::string> sql = {"CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INT)",
                                  "CREATE TABLE u(a TEXT, b REAL)"};
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < 15; ++i)
      sql.push_back("INSERT INTO t(name, n) VALUES('round " + std::to_string(r) + " row " + std::to_string(i) +
                    " with some text', " + std::to_string(r * 100 + i) + ")");
    sql.push_back("INSERT INTO u VALUES('u of round " + std::to_string(r) + "', " + std::to_string(r) + ".5)");
    sql.push_back("UPDATE t SET name = name || ' updated in round " + std::to_string(r) + "' WHERE id % 7 = " +
                  std::to_string(r % 7));
    sql.push_back("DELETE FROM t WHERE id % 11 = " + std::to_string(r % 11));
  }
  return sql;
}

struct deep_run {
  run_result result;
  std::vector<deep_csv_row> rows;
};

deep_run run_deep(const std::string& db, std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), {"-i", db, "--deep"});
  deep_run r{run_sarvek(extra), {}};
  r.rows = parse_deep_csv(r.result.out);
  return r;
}

void expect_live(const deep_run& r, const std::map<std::string, std::vector<std::string>>& live) {
  for (const auto& [table, lines] : live) EXPECT_EQ(deep_lines(r.rows, table), lines) << table;
}

// Every row points at its cell in the file its source names.
void expect_in_place(const deep_run& r, const std::string& db, uint32_t page_size) {
  for (const std::string& line : misplaced_rows(r.rows, db, page_size, true)) ADD_FAILURE() << "misplaced: " << line;
}

// A database in WAL mode that never checkpoints by itself, after `rounds`
// rounds of the history.
sqlite3* wal_db(const std::string& path, const db_layout& layout, int rounds, ground_truth* truth) {
  sqlite3* h = open_layout_db(path, layout);
  run_sql(h, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  run_recorded(h, history(rounds), truth);
  return h;
}

// A WAL database of 1024-byte pages after `rounds` rounds of the history,
// copied while its connection held the log open: the copy's path.
std::string copied_wal_db(scratch_dir& dir, int rounds) {
  ground_truth truth;
  sqlite3* h = wal_db(dir.file("w.db"), {1024, "UTF-8", 0, "NONE"}, rounds, &truth);
  const std::string copy = dir.file("copy.db");
  copy_files(dir.file("w.db"), copy);
  sqlite3_close(h);
  return copy;
}

// Writes v big-endian at b[at].
void put32(std::vector<uint8_t>& b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

TEST(DeepLogs, WalCurrentStateAndEveryOlderVersion) {
  scratch_dir dir;
  const std::string db = dir.file("w.db");
  ground_truth truth;
  sqlite3* h = wal_db(db, {}, 4, &truth);
  const std::string copy = dir.file("copy.db");
  copy_files(db, copy);  // while the connection holds the log open
  const auto live = library_view(copy, dir.file("view.db"));
  sqlite3_close(h);

  const deep_run r = run_deep(copy);
  ASSERT_EQ(r.result.status, 0);
  EXPECT_NE(r.result.err.find("reading the write-ahead log"), std::string::npos);
  expect_live(r, live);
  expect_in_place(r, copy, 4096);
  const recovery_score s = score_recovery(truth, live, r.rows, file_bytes(copy) + file_bytes(copy + "-wal"), layout());
  for (const std::string& line : s.false_lines) ADD_FAILURE() << line;
  EXPECT_EQ(s.false_records, 0u);
  EXPECT_EQ(s.duplicates, 0u);
  // Every statement committed, so every older version lies whole in a frame.
  EXPECT_EQ(s.full_of_surviving, s.surviving) << (s.missed_lines.empty() ? "" : s.missed_lines[0]);
  EXPECT_GT(s.surviving, 20u);
  for (const deep_csv_row& row : r.rows) {
    if (row.status != "live") {
      EXPECT_EQ(row.source, "wal") << row.status;
    }
  }
  // --wal=none reads the database file alone.
  const deep_run alone = run_deep(copy, {"--wal=none"});
  EXPECT_EQ(alone.result.err.find("write-ahead log"), std::string::npos);
  EXPECT_LT(deep_lines(alone.rows, "t").size(), live.at("t").size());
}

TEST(DeepLogs, UncommittedFramesAndAnOlderGeneration) {
  scratch_dir dir;
  const std::string db = dir.file("w.db");
  ground_truth truth;
  sqlite3* h = wal_db(db, {1024, "UTF-8", 0, "NONE"}, 3, &truth);
  // A checkpoint, then a new generation of the log over the old frames.
  run_sql(h, "PRAGMA wal_checkpoint(TRUNCATE);");
  run_recorded(h, {"INSERT INTO u VALUES('after the reset', 9.5)"}, &truth);
  // A transaction left open, its pages spilled to the log.
  run_sql(h, "PRAGMA cache_size=2; BEGIN;");
  for (int i = 0; i < 200; ++i)
    run_sql(h, "INSERT INTO t(name, n) VALUES('uncommitted row " + std::to_string(i) + "', -1)");
  const std::string copy = dir.file("copy.db");
  copy_files(db, copy);
  const auto live = library_view(copy, dir.file("view.db"));
  run_sql(h, "ROLLBACK;");
  sqlite3_close(h);

  const deep_run r = run_deep(copy);
  ASSERT_EQ(r.result.status, 0);
  expect_live(r, live);
  expect_in_place(r, copy, 1024);
  size_t uncommitted = 0;
  for (const deep_csv_row& row : r.rows) {
    if (row.status != "uncommitted") continue;
    ++uncommitted;
    EXPECT_EQ(row.table, "t");
    ASSERT_EQ(row.values.size(), 3u);
    EXPECT_EQ(row.values[2], "-1");
    EXPECT_EQ(row.values[1].rfind("\"uncommitted row ", 0), 0u) << row.values[1];
  }
  EXPECT_GT(uncommitted, 0u);
}

TEST(DeepLogs, HotAndPersistJournals) {
  scratch_dir dir;
  // A transaction interrupted with its pages already written to the file:
  // the library rolls it back on opening, and so does the current state.
  const std::string db = dir.file("j.db");
  sqlite3* h = open_layout_db(db, {1024, "UTF-8", 0, "NONE"});
  ground_truth truth;
  run_recorded(h, history(2), &truth);
  run_sql(h, "PRAGMA cache_size=2; BEGIN;");
  for (int i = 0; i < 200; ++i)
    run_sql(h, "INSERT INTO t(name, n) VALUES('interrupted row " + std::to_string(i) + "', -2)");
  run_sql(h, "UPDATE t SET name = 'interrupted update' WHERE id < 5");
  const std::string copy = dir.file("copy.db");
  copy_files(db, copy);
  ASSERT_TRUE(fs::exists(copy + "-journal"));
  const auto live = library_view(copy, dir.file("view.db"));
  run_sql(h, "ROLLBACK;");
  sqlite3_close(h);
  const deep_run hot = run_deep(copy);
  ASSERT_EQ(hot.result.status, 0);
  EXPECT_NE(hot.result.err.find("reading the rollback journal"), std::string::npos);
  expect_live(hot, live);
  expect_in_place(hot, copy, 1024);
  size_t uncommitted = 0;
  for (const deep_csv_row& row : hot.rows)
    if (row.status == "uncommitted") {
      ++uncommitted;
      EXPECT_TRUE(row.values.size() == 3 && (row.values[2] == "-2" || row.values[1] == "\"interrupted update\""))
          << row.values[1];
    }
  EXPECT_GT(uncommitted, 0u);

  // Persist mode: each commit zeroes the journal's header; its page images
  // are older versions, searched as carved space.
  const std::string persist = dir.file("p.db");
  h = open_layout_db(persist, {1024, "UTF-8", 0, "NONE"});
  run_sql(h, "PRAGMA journal_mode=PERSIST;");
  ground_truth persist_truth;
  run_recorded(h, history(3), &persist_truth);
  sqlite3_close(h);
  ASSERT_TRUE(fs::exists(persist + "-journal"));
  const auto persist_live = library_view(persist, dir.file("pview.db"));
  const deep_run p = run_deep(persist);
  ASSERT_EQ(p.result.status, 0);
  expect_live(p, persist_live);
  expect_in_place(p, persist, 1024);
  const recovery_score s = score_recovery(persist_truth, persist_live, p.rows,
                                          file_bytes(persist) + file_bytes(persist + "-journal"), layout());
  for (const std::string& line : s.false_lines) ADD_FAILURE() << line;
  EXPECT_EQ(s.duplicates, 0u);
}

TEST(DeepLogs, DamagedLogsNeverCrash) {
  scratch_dir dir;
  const std::string copy = copied_wal_db(dir, 2);
  const std::vector<uint8_t> wal = read_file(copy + "-wal");
  ASSERT_GT(wal.size(), 32u + 2 * (24 + 1024));
  const std::vector<std::pair<const char*, std::function<void(std::vector<uint8_t>&)>>> cases = {
      {"cut inside a frame", [](std::vector<uint8_t>& b) { b.resize(32 + 24 + 1024 + 500); }},
      {"checksum", [](std::vector<uint8_t>& b) { b[32 + 24 + 1024 + 20] ^= 0xFF; }},
      {"salt", [](std::vector<uint8_t>& b) { put32(b, 32 + 8, 12345); }},
      {"page 0", [](std::vector<uint8_t>& b) { put32(b, 32, 0); }},
      {"page past any size", [](std::vector<uint8_t>& b) { put32(b, 32, 0xFFFFFFF0u); }},
      {"page size of the header", [](std::vector<uint8_t>& b) { put32(b, 8, 4096); }},
      {"ten bytes", [](std::vector<uint8_t>& b) { b.resize(10); }},
  };
  for (const auto& [name, damage] : cases) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = wal;
    damage(bytes);
    write_file(copy + "-wal", bytes);
    const deep_run r = run_deep(copy);
    EXPECT_EQ(r.result.status, 0) << r.result.err;
  }
  // A journal of garbage and one cut short.
  write_file(copy + "-wal", wal);
  for (size_t size : {size_t{0}, size_t{27}, size_t{600}, size_t{5000}}) {
    std::vector<uint8_t> journal(size, 0xA5);
    if (size >= 8) journal[0] = 0xd9;
    write_file(copy + "-journal", journal);
    EXPECT_EQ(run_deep(copy).result.status, 0) << size;
  }
}

// Page number 0 (and one past any size) in log files an attacker controls:
// such a frame or record belongs to no page. The run ends normally, says so,
// and its live rows are what the library reads from the same damaged files.
TEST(DeepLogs, PageZeroInLogs) {
  scratch_dir dir;
  const uint32_t page_size = 512;
  int views = 0;  // a fresh name each time: the library leaves a -shm behind
  const auto check = [&](const std::string& copy, const char* note) {
    const deep_run r = run_deep(copy);
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    if (note) {
      EXPECT_NE(r.result.err.find(note), std::string::npos) << r.result.err;
    }
    expect_live(r, library_view(copy, dir.file("view" + std::to_string(++views) + ".db")));
  };

  const std::string db = dir.file("w.db");
  ground_truth truth;
  sqlite3* h = wal_db(db, {page_size, "UTF-8", 0, "NONE"}, 1, &truth);
  run_sql(h, "PRAGMA wal_checkpoint(TRUNCATE);");
  const std::vector<std::string> more = history(3);
  run_recorded(h, {more.begin() + 2, more.end()}, &truth);
  const std::string copy = dir.file("copy.db");
  copy_files(db, copy);
  sqlite3_close(h);
  const std::vector<uint8_t> wal = read_file(copy + "-wal"), base = read_file(copy);
  const uint64_t frame = 24 + page_size, frames = (wal.size() - 32) / frame;
  ASSERT_GE(frames, 4u);
  const char* wal_note = "name page 0 or a page past any sane size";
  for (uint64_t k = 0; k <= frames; ++k) {
    SCOPED_TRACE(k == frames ? std::string("every frame") : "frame " + std::to_string(k + 1));
    std::vector<uint8_t> bytes = wal;
    for (uint64_t i = 0; i < frames; ++i)
      if (i == k || k == frames) put32(bytes, 32 + i * frame, (i % 2 && k == frames) ? 0xFFFFFF00u : 0);
    write_file(copy, base);
    write_file(copy + "-wal", bytes);
    check(copy, wal_note);
  }

  // A hot journal whose records name page 0: the library ends its rollback
  // at such a record, and so does the current state.
  const std::string jdb = dir.file("j.db");
  h = open_layout_db(jdb, {page_size, "UTF-8", 0, "NONE"});
  run_recorded(h, history(2), &truth);
  run_sql(h, "PRAGMA cache_size=2; BEGIN;");
  for (int i = 0; i < 60; ++i)
    run_sql(h, "INSERT INTO t(name, n) VALUES('interrupted row " + std::to_string(i) + "', -2)");
  const std::string jcopy = dir.file("jcopy.db");
  copy_files(jdb, jcopy);
  run_sql(h, "ROLLBACK;");
  sqlite3_close(h);
  const std::vector<uint8_t> journal = read_file(jcopy + "-journal");
  const std::vector<uint8_t> jbase = read_file(jcopy);
  const uint32_t sector = static_cast<uint32_t>(journal[20]) << 24 | journal[21] << 16 | journal[22] << 8 | journal[23];
  const uint64_t records = (journal.size() - sector) / (page_size + 8);
  ASSERT_GE(records, 3u);
  for (uint64_t k : {uint64_t{0}, uint64_t{1}, records / 2, records - 1}) {
    SCOPED_TRACE("journal record " + std::to_string(k));
    std::vector<uint8_t> bytes = journal;
    put32(bytes, sector + k * (page_size + 8), 0);
    write_file(jcopy, jbase);
    write_file(jcopy + "-journal", bytes);
    check(jcopy, nullptr);
  }
}

// Statuses follow what the current state holds, wherever a row was found:
// an older version of a row whose key is live is superseded, a row whose key
// no live row has is deleted. The library makes the history (updates,
// deletes, a delete and a new row with the same key, a WITHOUT ROWID
// table) and reads the current state; every printed key is judged by it.
TEST(DeepLogs, StatusesByWhatTheCurrentStateHolds) {
  scratch_dir dir;
  const std::string db = dir.file("s.db");
  sqlite3* h = open_layout_db(db, {1024, "UTF-8", 0, "NONE"});
  run_sql(h, "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INT);"
             "CREATE TABLE k(code TEXT PRIMARY KEY, label TEXT, n INT) WITHOUT ROWID;"
             "WITH RECURSIVE i(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM i WHERE x < 40)"
             " INSERT INTO t SELECT x, 'first name ' || x, x FROM i;"
             "INSERT INTO k SELECT 'code ' || id, 'first label ' || id, id FROM t;"
             "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  run_sql(h, "UPDATE t SET name = 'second name ' || id WHERE id % 4 = 0;"
             "UPDATE k SET label = 'second label ' || n WHERE n % 4 = 0;");
  run_sql(h, "DELETE FROM t WHERE id % 5 = 0; DELETE FROM k WHERE n % 5 = 0;");
  run_sql(h, "DELETE FROM t WHERE id = 7; INSERT INTO t VALUES(7, 'seven again', -7);"
             "DELETE FROM k WHERE n = 7; INSERT INTO k VALUES('code 7', 'seven again', -7);");
  run_sql(h, "UPDATE t SET n = n + 1000 WHERE id % 6 = 1; UPDATE k SET n = n + 1000 WHERE n % 6 = 1;");
  const std::string copy = dir.file("copy.db");
  copy_files(db, copy);
  sqlite3_close(h);
  const std::string view = dir.file("view.db");
  copy_files(copy, view);
  std::set<std::string> live_t, live_k;
  sqlite3* v = nullptr;
  sqlite3_open(view.c_str(), &v);
  for (const std::string& line : handle_lines(v, "t")) live_t.insert(line.substr(0, line.find('|')));
  for (const std::string& line : handle_lines(v, "k")) {
    const size_t start = line.find("|T:") + 3;
    live_k.insert(line.substr(start, line.find('|', start) - start));
  }
  sqlite3_close(v);

  const deep_run r = run_deep(copy);
  ASSERT_EQ(r.result.status, 0) << r.result.err;
  std::map<std::string, size_t> seen;
  for (const deep_csv_row& row : r.rows) {
    if (row.status == "live" || (row.table != "t" && row.table != "k")) continue;
    std::string key = row.table == "t" ? row.rowid : row.values.at(0);
    if (row.table == "k" && key.size() >= 2) key = key.substr(1, key.size() - 2);
    const bool live_key = !key.empty() && (row.table == "t" ? live_t : live_k).count(key) != 0;
    EXPECT_EQ(row.status, live_key ? "superseded" : "deleted") << row.table << " key " << key << " " << row.source;
    ++seen[row.table + " " + row.status];
  }
  for (const char* expected : {"t deleted", "t superseded", "k deleted", "k superseded"})
    EXPECT_GT(seen[expected], 0u) << expected;
}

// A log of another database, beside the input or named by option, is not
// applied: one note says why and no live row changes. A log that belongs
// gives no such note.
TEST(DeepLogs, ForeignLogsAreNotApplied) {
  scratch_dir dir;
  const std::string note = "does not belong to this database";
  const auto make = [&](const std::string& name, const db_layout& layout, const char* mode, int commits) {
    const std::string path = dir.file(name);
    sqlite3* h = open_layout_db(path, layout);
    run_sql(h, std::string("PRAGMA journal_mode=") + mode + "; PRAGMA wal_autocheckpoint=0;");
    const std::vector<std::string> sql = history(1);  // two tables, then rows
    for (int i = 0; i < commits; ++i) run_sql(h, sql[std::min<size_t>(i, 16)]);
    return std::make_pair(path, h);
  };
  // A: rollback mode, few commits. B: WAL mode. C: WAL mode, UTF-16. D: a
  // hot journal after many commits. E: WAL mode, no log of its own.
  auto [a, ha] = make("a.db", {1024, "UTF-8", 0, "NONE"}, "DELETE", 6);
  auto [b, hb] = make("b.db", {1024, "UTF-8", 0, "NONE"}, "WAL", 12);
  auto [c, hc] = make("c.db", {1024, "UTF-16le", 0, "NONE"}, "WAL", 12);
  auto [d, hd] = make("d.db", {1024, "UTF-8", 0, "NONE"}, "DELETE", 17);
  auto [e, he] = make("e.db", {1024, "UTF-8", 0, "NONE"}, "WAL", 5);
  run_sql(he, "PRAGMA wal_checkpoint(TRUNCATE);");
  run_sql(hd, "PRAGMA cache_size=2; BEGIN; UPDATE t SET name = name || ' interrupted';"
              "INSERT INTO t(name, n) SELECT name, n FROM t;");
  for (const std::string& path : {b, c, d}) copy_files(path, path + ".copy");
  for (sqlite3* h : {ha, hb, hc, hd, he}) sqlite3_close(h);

  struct foreign_case {
    std::string db, log, suffix, why;
  };
  const std::vector<foreign_case> cases = {
      {a, b + ".copy-wal", "-wal", "rollback-journal mode"},
      {e, c + ".copy-wal", "-wal", "text encoding"},
      {a, d + ".copy-journal", "-journal", "newer than the database's"},
      {e, d + ".copy-journal", "-journal", "write-ahead-log mode"},
  };
  int n = 0;
  for (const foreign_case& fc : cases) {
    SCOPED_TRACE(fc.db + " with " + fc.log);
    const std::string input = dir.file("in" + std::to_string(++n) + ".db");
    fs::copy_file(fc.db, input);
    const deep_run alone = run_deep(input, {"--wal=none", "--journal=none"});
    const auto live = library_view(input, dir.file("v" + std::to_string(n) + ".db"));
    const std::string option = (fc.suffix == "-wal" ? "--wal=" : "--journal=") + fc.log;
    fs::copy_file(fc.log, input + fc.suffix);
    for (const deep_run& r : {run_deep(input), run_deep(input, {option})}) {
      ASSERT_EQ(r.result.status, 0) << r.result.err;
      EXPECT_NE(r.result.err.find(note), std::string::npos) << r.result.err;
      EXPECT_NE(r.result.err.find(fc.why), std::string::npos) << r.result.err;
      expect_live(r, live);
      EXPECT_EQ(deep_lines(r.rows, "t"), deep_lines(alone.rows, "t"));
    }
  }
  // Logs that belong.
  for (const std::string& own : {b + ".copy", d + ".copy"})
    EXPECT_EQ(run_deep(own).result.err.find(note), std::string::npos) << own;
}

// --as-of=N: the live rows are those the library reads from a copy of the
// database whose log is cut after commit N's frame, for every commit.
TEST(DeepLogs, AsOfEveryCommit) {
  scratch_dir dir;
  const std::string copy = copied_wal_db(dir, 2);
  const std::vector<uint8_t> wal = read_file(copy + "-wal");
  const uint64_t frame = 24 + 1024;
  std::vector<uint64_t> ends{32};  // the log's length after commit 0, 1, 2, ...
  for (uint64_t at = 32; at + frame <= wal.size(); at += frame)
    if (wal[at + 4] | wal[at + 5] | wal[at + 6] | wal[at + 7]) ends.push_back(at + frame);
  ASSERT_GE(ends.size(), 21u);
  const std::string cut = dir.file("cut.db");
  for (size_t n = 0; n < ends.size(); ++n) {
    SCOPED_TRACE("commit " + std::to_string(n));
    fs::copy_file(copy, cut, fs::copy_options::overwrite_existing);
    write_file(cut + "-wal", std::vector<uint8_t>(wal.begin(), wal.begin() + static_cast<ptrdiff_t>(ends[n])));
    const deep_run r = run_deep(copy, {"--as-of=" + std::to_string(n)});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::string view = dir.file("view" + std::to_string(n) + ".db");
    copy_files(cut, view);
    for (const std::string& table : sqlite_tables(view))
      EXPECT_EQ(deep_lines(r.rows, table), sqlite_lines(view, table)) << table;
    for (const deep_csv_row& row : r.rows) EXPECT_NE(row.status, "uncommitted");
  }
  const deep_run past = run_deep(copy, {"--as-of=" + std::to_string(ends.size())});
  EXPECT_EQ(past.result.status, 1);
  EXPECT_NE(past.result.err.find("ERROR: --as-of=" + std::to_string(ends.size()) + ": the write-ahead log holds " +
                                 std::to_string(ends.size() - 1) + " commits"),
            std::string::npos)
      << past.result.err;
}
