// The deep mode on damaged files: every walk ends, no read leaves the file
// (the sanitizer build runs the same tests), a note names the damage, and
// the rows of the undamaged tables are all still printed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include "recover/cell_parse.h"
#include "recover/header_rebuild.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

constexpr uint32_t page_size = 1024;

// t1 spans a two-level b-tree with overflow rows; t2 is one small leaf,
// written first so that it lies before the damage; free pages follow
// deletions.
std::string make_source(const scratch_dir& dir) {
  const std::string db = dir.file("source.db");
  std::string sql =
      "CREATE TABLE t2(a TEXT, b INT); INSERT INTO t2 VALUES('kept', 1), ('also kept', 2);"
      "CREATE TABLE t1(id INTEGER PRIMARY KEY, body TEXT, data BLOB);"
      "CREATE TABLE gone(x TEXT);";
  for (int i = 0; i < 120; ++i)
    sql += "INSERT INTO t1(body, data) VALUES('row " + std::to_string(i) + " of t1 with some words', " +
           (i % 20 == 0 ? "randomblob(3000)" : "NULL") + ");";
  for (int i = 0; i < 80; ++i)
    sql += "INSERT INTO gone VALUES('filler " + std::to_string(i) + " that makes the table span pages');";
  sql += "DELETE FROM t1 WHERE id % 5 = 0; DELETE FROM gone;";
  make_db(db, sql, static_cast<int>(page_size));
  return db;
}

uint32_t query_u32(const std::string& db, const std::string& sql) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  uint32_t v = 0;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    v = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(h);
  return v;
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
size_t page_at(uint32_t page) {
  if (page == 0) ADD_FAILURE() << "the source database lacks a page the damage needs";
  return page == 0 ? 0 : size_t{page - 1} * page_size;
}

struct damage_case {
  const char* name;
  std::function<void(std::vector<uint8_t>&, const std::string& db)> apply;
  const char* note;  // a piece of the expected note ("" when none is owed)
};

}  // namespace

TEST(DeepHostile, DamagedStructuresEndTheirBranchWithANote) {
  scratch_dir dir;
  const std::string source = make_source(dir);
  const std::vector<std::string> t2_rows = sqlite_lines(source, "t2");
  const auto root = [&](const char* table) {
    return query_u32(source, std::string("SELECT rootpage FROM sqlite_master WHERE name='") + table + "'");
  };
  const auto a_leaf = [&](const char* table) {
    return query_u32(source, std::string("SELECT pageno FROM dbstat WHERE name='") + table +
                                 "' AND pagetype='leaf' ORDER BY pageno LIMIT 1 OFFSET 1");
  };
  const auto an_overflow = [&] {
    return query_u32(source, "SELECT pageno FROM dbstat WHERE name='t1' AND pagetype='overflow' LIMIT 1");
  };
  const std::vector<damage_case> cases = {
      {"interior page loops to itself",
       [&](std::vector<uint8_t>& b, const std::string&) { put32(b, page_at(root("t1")) + 8, root("t1")); },
       "reached twice"},
      {"child pointer past the end",
       [&](std::vector<uint8_t>& b, const std::string&) { put32(b, page_at(root("t1")) + 8, 999999); },
       "out of range"},
      {"cell pointer outside its page",
       [&](std::vector<uint8_t>& b, const std::string&) { put16(b, page_at(a_leaf("t1")) + 8, 0xFFF0); },
       "points outside the page"},
      {"zeroed root page",
       [&](std::vector<uint8_t>& b, const std::string&) {
         std::fill(b.begin() + static_cast<long>(page_at(root("t1"))),
                   b.begin() + static_cast<long>(page_at(root("t1")) + page_size), 0);
       },
       "not a table b-tree page"},
      {"overflow chain loops",
       [&](std::vector<uint8_t>& b, const std::string&) { put32(b, page_at(an_overflow()), an_overflow()); },
       "overflow chain"},
      {"freeblock chain loops",
       [&](std::vector<uint8_t>& b, const std::string&) {
         const size_t p = page_at(a_leaf("t1"));
         const uint32_t first = b[p + 1] << 8 | b[p + 2];
         if (first != 0) put16(b, p + first, first);
       },
       "freeblock chain"},
      {"freeblock past the page",
       [&](std::vector<uint8_t>& b, const std::string&) {
         const size_t p = page_at(a_leaf("t1"));
         const uint32_t first = b[p + 1] << 8 | b[p + 2];
         if (first != 0) put16(b, p + first + 2, 0xFFFF);
       },
       "freeblock chain"},
      {"freelist trunk loops",
       [&](std::vector<uint8_t>& b, const std::string&) {
         const uint32_t trunk = b[32] << 24 | b[33] << 16 | b[34] << 8 | b[35];
         put32(b, page_at(trunk), trunk);
       },
       "freelist"},
      {"freelist trunk counts too many leaves",
       [&](std::vector<uint8_t>& b, const std::string&) {
         const uint32_t trunk = b[32] << 24 | b[33] << 16 | b[34] << 8 | b[35];
         put32(b, page_at(trunk) + 4, 0x7FFFFFFF);
       },
       "more than fit"},
      {"page claimed by two b-trees",
       [&](std::vector<uint8_t>& b, const std::string&) { put32(b, page_at(root("t1")) + 8, root("t2")); },
       "reached twice"},
      {"header lies about the page size",
       [&](std::vector<uint8_t>& b, const std::string&) { put16(b, 16, 4096); }, ""},
  };
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = read_file(source);
    c.apply(bytes, source);
    const std::string damaged = dir.file("damaged.db");
    write_file(damaged, bytes);
    const run_result r = run_sarvek({"-i", damaged, "--deep"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(c.note), std::string::npos) << r.err;
    if (std::string(c.name) != "header lies about the page size") {
      EXPECT_EQ(deep_lines(parse_deep_csv(r.out), "t2"), t2_rows);
    }
  }
}

TEST(DeepHostile, TruncatedAtEveryPageBoundary) {
  scratch_dir dir;
  const std::string source = make_source(dir);
  const std::vector<uint8_t> bytes = read_file(source);
  for (size_t end = page_size; end < bytes.size(); end += page_size) {
    SCOPED_TRACE(end);
    const std::string cut = dir.file("cut.db");
    write_file(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(end)));
    const run_result r = run_sarvek({"-i", cut, "--deep"});
    ASSERT_EQ(r.status, 0) << r.err;
    parse_deep_csv(r.out);
  }
}

// Serial types near 2^64 claim values of nearly 2^63 bytes; two of them
// must not wrap the record's size into a small one that puts a third value
// "on the page" at a wild offset. Both the rebuilt and the whole readings.
TEST(DeepHostile, HugeSerialTypesDoNotWrapTheRecordSize) {
  std::vector<uint8_t> page(512, 'a');
  page[2] = 20;  // header size; byte 3 is the lost first serial type
  for (size_t i = 4; i < 22; ++i) page[i] = 0xFF;  // two 9-byte serial types of 2^64 - 1
  table_rules rules;
  rules.fields.assign(3, field_rule{affinity::text});
  const uint32_t ends[] = {30};
  const rebuild_input in{page, 0, 512, cell_format::table, &rules, 512, text_encoding::utf8, 4, ends, ends};
  std::vector<carved_record> readings;
  rebuild_readings(in, &readings);
  EXPECT_TRUE(readings.empty());

  // The same serial types in a whole header: payload 40, rowid 1.
  std::vector<uint8_t> cell(512, 'a');
  cell[0] = 40;
  cell[1] = 1;
  cell[2] = 20;
  cell[3] = 0x0F;
  for (size_t i = 4; i < 22; ++i) cell[i] = 0xFF;
  carved_record whole;
  EXPECT_FALSE(parse_whole_cell(cell, 0, 512, cell_format::table, cell_limits{512, 3}, &whole));
}
