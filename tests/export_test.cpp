// The --export database: rows of every storage class, names that need
// quoting or renaming, lost_and_found, pages, frames and the run's record,
// all read back through the SQLite library; the refusal of existing files;
// SHA-256 against sha256sum.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sink/sha256.h"
#include "sink/sqlite_sink.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

byte_view bytes_of(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
value_view text(std::string_view s, text_encoding e = text_encoding::utf8) {
  return {value_kind::text, e, 0, 0, bytes_of(s)};
}
value_view blob(std::string_view s) {
  return {value_kind::blob, text_encoding::utf8, 0, 0, bytes_of(s)};
}

table_def make_table(const std::string& name, const std::vector<std::string>& columns) {
  table_def t;
  t.name = name;
  t.parsed = true;
  for (const std::string& c : columns) t.columns.emplace_back().name = c;
  return t;
}

deep_row make_row(const table_def* t, std::span<const value_view> values, int64_t rowid = 1) {
  return {t, row_status::live, row_source::btree, row_reading::cell, nullptr, 2, 4096 + uint64_t(rowid), true, rowid, values};
}

// Every value of the query as "<storage class>:<value>".
std::vector<std::string> query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* s = nullptr;
  std::vector<std::string> rows;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db) << sql;
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      if (i) row += "|";
      const int type = sqlite3_column_type(s, i);  // before any conversion
      const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
      const std::string bytes(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s, i)));
      char number[40];
      switch (type) {
        case SQLITE_INTEGER:
          row += "i:" + std::to_string(sqlite3_column_int64(s, i));
          break;
        case SQLITE_FLOAT:
          snprintf(number, sizeof number, "r:%.17g", sqlite3_column_double(s, i));
          row += number;
          break;
        case SQLITE_TEXT:
          row += "t:" + bytes;
          break;
        case SQLITE_BLOB:
          row += "b:";
          for (unsigned char c : bytes) snprintf(number, sizeof number, "%02X", c), row += number;
          break;
        default:
          row += "NULL";
      }
    }
    rows.push_back(row);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

using rows = std::vector<std::string>;

run_facts some_facts() {
  return {"0.7",
          {{"database", "/evidence/a.db", 8192, std::string(64, 'a')},
           {"wal", "/evidence/a\xFF.db-wal", 32, ""}},
          "UTF-16le",
          4096,
          "--deep -i a.db",
          "2024-01-02T03:04:05Z",
          "2024-01-02T03:04:06Z"};
}

TEST(Export, ValuesKeepTheirStorageClassAndTextsBecomeUtf8) {
  scratch_dir dir;
  const std::string out = dir.file("out.db");
  auto sink = sqlite_sink::open(out);
  ASSERT_TRUE(sink);
  const table_def t = make_table("t", {"a", "b", "c"});
  sink->table(t);
  const std::string nul_text("x\0y", 3), nul_blob("\0\1\0", 3);
  const std::vector<std::vector<value_view>> values{
      {integer_value(-5), real_value(2.5), text("h\xC3\xA9llo")},
      {text(std::string_view("h\0i\0\x00\xD8", 6), text_encoding::utf16le),
       text(std::string_view("\0\xE9", 2), text_encoding::utf16be), blob(nul_blob)},
      {unknown_value(), null_value(), text("")},
      {blob("")},
      {text("a\xFF"
            "b"),
       text(nul_text), integer_value(INT64_MIN)},
  };
  for (size_t i = 0; i < values.size(); ++i) {
    deep_row r = make_row(&t, values[i], int64_t(i));
    if (i == 1)
      r.status = row_status::deleted, r.source = row_source::freeblock, r.has_rowid = false,
      r.reading = row_reading::inferred, r.reading_note = "no fragment";
    sink->row(r);
  }
  ASSERT_EQ(sink->finish(some_facts()), 0);
  EXPECT_EQ(query(out, "SELECT * FROM t"),
            (rows{"t:live|t:btree|t:cell|NULL|i:2|i:4096|i:0|t:|NULL|NULL|i:-5|r:2.5|t:h\xC3\xA9llo",
                  "t:deleted|t:freeblock|t:inferred|t:no fragment|i:2|i:4097|NULL|t:|NULL|NULL|t:hi\xEF\xBF\xBD|t:\xC3\xA9|b:000100",
                  "t:live|t:btree|t:cell|NULL|i:2|i:4098|i:2|t:\"a\"|NULL|NULL|NULL|NULL|t:",
                  "t:live|t:btree|t:cell|NULL|i:2|i:4099|i:3|t:|NULL|NULL|b:|NULL|NULL",
                  "t:live|t:btree|t:cell|NULL|i:2|i:4100|i:4|t:|NULL|NULL|t:a\xEF\xBF\xBD"
                  "b|t:" +
                      nul_text + "|i:-9223372036854775808"}));
  const run_result check = run_program({"sqlite3", out, "PRAGMA integrity_check"});
  EXPECT_EQ(check.out, "ok\n") << check.err;
}

TEST(Export, NamesAreQuotedAndClashesRenamed) {
  scratch_dir dir;
  const std::string out = dir.file("out.db");
  auto sink = sqlite_sink::open(out);
  ASSERT_TRUE(sink);
  // Source name, columns; the export's name and columns.
  const std::vector<std::pair<table_def, std::string>> tables{
      {make_table("sqlite_master", {"type", "name", "tbl_name", "rootpage", "sql"}),
       "src_sqlite_master"},
      {make_table("we\"ird [t]", {"a b", "'q'"}), "we\"ird [t]"},
      {make_table("T", {"x"}), "T"},
      {make_table("t", {"sarvek_page", "a", "A"}), "t_2"},
      {make_table("t_2", {}), "t_2_2"},
      {make_table("SARVEK_pages", {"p"}), "src_SARVEK_pages"},
      {make_table("Lost_And_Found", {"x"}), "src_Lost_And_Found"},
      {make_table(std::string("n\0\xFF", 3), {std::string("c\0", 2)}), "n\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  // The last table's rows come without an announcement.
  for (size_t i = 0; i + 1 < tables.size(); ++i) sink->table(tables[i].first);
  for (size_t i = tables.size(); i-- > 0;) {
    const std::vector<value_view> v(tables[i].first.columns.size(), integer_value(int64_t(i)));
    sink->row(make_row(&tables[i].first, v));
  }
  ASSERT_EQ(sink->finish(some_facts()), 0);
  rows names{"t:sarvek_pages", "t:sarvek_run", "t:lost_and_found"};
  for (const auto& [def, name] : tables) {
    names.push_back("t:" + name);
    EXPECT_EQ(query(out, "SELECT sarvek_rowid FROM " + quote_identifier(name)), rows{"i:1"})
        << name;
  }
  EXPECT_EQ(query(out, "SELECT name FROM sqlite_master WHERE type = 'table'"), names);
  EXPECT_EQ(query(out, "SELECT name FROM pragma_table_info('t_2')"),
            (rows{"t:sarvek_status", "t:sarvek_source", "t:sarvek_reading", "t:sarvek_reading_note",
                  "t:sarvek_page", "t:sarvek_offset", "t:sarvek_rowid", "t:sarvek_unrecovered",
                  "t:sarvek_commit", "t:sarvek_pending", "t:sarvek_page_2", "t:a", "t:A_2"}));
  EXPECT_EQ(query(out, "SELECT name FROM pragma_table_info('we\"ird [t]') WHERE cid > 9"),
            (rows{"t:a b", "t:'q'"}));
  EXPECT_EQ(query(out, "SELECT count(*) FROM pragma_table_info('t_2_2')"), rows{"i:10"});
}

TEST(Export, LostAndFoundGrowsAndWideRowsSpill) {
  scratch_dir dir;
  const std::string out = dir.file("out.db");
  auto sink = sqlite_sink::open(out);
  ASSERT_TRUE(sink);
  // The library allows 2000 columns: a source table of 1998 keeps 1990.
  std::vector<std::string> columns(1998);
  for (size_t i = 0; i < columns.size(); ++i) columns[i] = "k" + std::to_string(i);
  const table_def wide = make_table("wide", columns);
  std::vector<value_view> values;
  for (int64_t i = 0; i < 2100; ++i) values.push_back(integer_value(i));
  for (size_t width : {1, 3, 2, 0}) {
    deep_row r = make_row(nullptr, std::span(values).first(width), int64_t(width));
    r.source = row_source::unallocated;
    sink->row(r);
  }
  sink->row(make_row(nullptr, values, 7));
  sink->row(make_row(&wide, std::span(values).first(1998), 8));
  ASSERT_EQ(sink->finish(some_facts()), 0);
  EXPECT_EQ(
      query(out,
            "SELECT sarvek_source, sarvek_rowid, sarvek_fields, c0, c1, c2, c3 FROM lost_and_found "
            "LIMIT 4"),
      (rows{"t:unallocated|i:1|i:1|i:0|NULL|NULL|NULL", "t:unallocated|i:3|i:3|i:0|i:1|i:2|NULL",
            "t:unallocated|i:2|i:2|i:0|i:1|NULL|NULL",
            "t:unallocated|i:0|i:0|NULL|NULL|NULL|NULL"}));
  EXPECT_EQ(query(out, "SELECT count(*) FROM pragma_table_info('lost_and_found')"), rows{"i:2000"});
  EXPECT_EQ(query(out, "SELECT c1988 FROM lost_and_found WHERE sarvek_fields = 2100"),
            rows{"i:1988"});
  EXPECT_EQ(query(out, "SELECT k1989 FROM wide"), rows{"i:1989"});
  EXPECT_EQ(query(out,
                  "SELECT table_name, count(*), min(field), max(field), sum(value = field)"
                  " FROM sarvek_extra_values GROUP BY 1 ORDER BY 1"),
            (rows{"t:lost_and_found|i:111|i:1989|i:2099|i:111", "t:wide|i:8|i:1990|i:1997|i:8"}));
  EXPECT_EQ(query(out, "SELECT DISTINCT table_rowid FROM sarvek_extra_values ORDER BY 1"),
            (rows{"i:1", "i:5"}));
}

TEST(Export, PagesFramesAndTheRunAreRecorded) {
  scratch_dir dir;
  const std::string out = dir.file("out.db");
  auto sink = sqlite_sink::open(out);
  ASSERT_TRUE(sink);
  sink->page({1, "table_leaf", "sqlite_master", 3000, 0});
  sink->page({2, "unreached", "", 4096, 7});
  sink->frame({1, 32, 2, 0, 0xFFFFFFFF, 7, true, false, 1, nullptr});
  sink->frame({2, 4152, 1, 2, 0xFFFFFFFF, 7, false, true, 0, "older generation"});
  sink->commit({0, 0, 0, 0, 0, 5});
  sink->commit({1, 1, 1, 0xFFFFFFFF, 7, 6});
  ASSERT_EQ(sink->finish(some_facts()), 0);
  EXPECT_EQ(
      query(out, "SELECT * FROM sarvek_pages"),
      (rows{"i:1|t:table_leaf|t:sqlite_master|i:3000|i:0", "i:2|t:unreached|NULL|i:4096|i:7"}));
  EXPECT_EQ(query(out, "SELECT * FROM sarvek_frames"),
            (rows{"i:1|i:32|i:2|i:0|i:4294967295|i:7|i:1|i:0|i:1",
                  "i:2|i:4152|i:1|i:2|i:4294967295|i:7|i:0|i:1|t:older generation"}));
  EXPECT_EQ(query(out, "SELECT * FROM sarvek_commits"),
            (rows{"i:0|NULL|NULL|NULL|NULL|i:5", "i:1|i:1|i:1|i:4294967295|i:7|i:6"}));
  EXPECT_EQ(query(out, "SELECT * FROM sarvek_run"),
            rows{"t:0.7|t:/evidence/a.db|i:8192|t:" + std::string(64, 'a') +
                 "|t:UTF-16le|i:4096|t:--deep -i a.db|t:2024-01-02T03:04:05Z|t:2024-01-02T03:04:06Z"
                 "|b:2F65766964656E63652F61FF2E64622D77616C|i:32|NULL|NULL|NULL|NULL"});
  // Without finish, nothing is kept: no export, no partial file beside it.
  const std::string other = dir.file("other.db");
  sqlite_sink::open(other)->row(make_row(nullptr, {}));
  EXPECT_FALSE(std::filesystem::exists(other));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path))
    EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
}

std::string captured_error(const std::string& path) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(sqlite_sink::open(path));
  return testing::internal::GetCapturedStderr();
}

TEST(Export, AnExistingFileOrLinkIsRefusedAndLeftAlone) {
  scratch_dir dir;
  const std::string file = dir.file("evidence.db"), link = dir.file("link.db"),
                    dangling = dir.file("dangling.db");
  write_file(file, std::string("not to be touched"));
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dangling.c_str()), 0);
  for (const std::string& path : {file, link, dangling, dir.file("no/such/dir.db")}) {
    const std::string err = captured_error(path);
    EXPECT_EQ(err.rfind("ERROR: Cannot create export file '" + path + "' ( ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  std::string kept;
  for (uint8_t c : read_file(file)) kept.push_back(char(c));
  EXPECT_EQ(kept, "not to be touched");
  EXPECT_NE(access(dir.file("nowhere").c_str(), F_OK), 0);
  // A relative name that reads as a URI still names the file created, not
  // the database the URI would name.
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  auto sink = sqlite_sink::open("file:evidence.db");
  const int status = sink ? sink->finish(some_facts()) : 1;
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(file).size(), kept.size());
  EXPECT_EQ(query(dir.file("file:evidence.db"), "SELECT version FROM sarvek_run"), rows{"t:0.7"});
}

TEST(Export, AWriteFailureIsReportedByFinish) {
  scratch_dir dir;
  const std::string out = dir.file("out.db");
  auto sink = sqlite_sink::open(out);
  ASSERT_TRUE(sink);
  const std::string big(1 << 20, 'x');
  const std::vector<value_view> values{blob(big)};
  sink->row(make_row(nullptr, values));
  // The commit writes past the file size limit: the writes fail with EFBIG.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64 << 10;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  testing::internal::CaptureStderr();
  const int status = sink->finish(some_facts());
  const std::string err = testing::internal::GetCapturedStderr();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.rfind("ERROR: Cannot write export file '" + out + "' ( ", 0), 0u) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

std::string sha256sum(const std::string& path) {
  return run_program({"sha256sum", path}).out.substr(0, 64);
}

TEST(Sha256, EqualsSha256sum) {
  scratch_dir dir;
  uint32_t state = 12345;
  for (size_t size : {0, 1, 55, 56, 64, (3 << 20) + 7}) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = uint8_t((state = state * 1103515245 + 12345) >> 16);
    const std::string path = dir.file(std::to_string(size));
    write_file(path, bytes);
    EXPECT_EQ(sha256_hex(bytes), sha256sum(path)) << size;
  }
}

TEST(LargeFile, Sha256OfAViewPastFourGiB) {
  if (!getenv("SARVEK_LARGE_TESTS")) GTEST_SKIP() << "set SARVEK_LARGE_TESTS=1 to run";
  scratch_dir dir;
  const std::string path = dir.file("sparse");
  const uint64_t size = (uint64_t{1} << 32) + 4099;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
  ASSERT_EQ(pwrite(fd, "tail", 4, off_t(size - 4)), 4);
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  ASSERT_NE(map, MAP_FAILED);
  EXPECT_EQ(sha256_hex({static_cast<const uint8_t*>(map), size}), sha256sum(path));
  munmap(map, size);
}

}  // namespace
