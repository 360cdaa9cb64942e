// The whole tool on databases made by SQLite: the CSV lines it prints for
// live rows, deleted rows in freeblocks and on free pages, overflowing rows,
// and with the search options.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

std::string run_ok(const std::vector<std::string>& args) {
  const run_result r = run_sarvek(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  return r.out;
}

// Filler that no byte position of an overflow page mistakes for a row.
std::string digits(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + (i * 7 + i / 10) % 10);
  return s;
}

}  // namespace

TEST(EndToEnd, LiveRowsOfEveryType) {
  scratch_dir dir;
  const std::string db = dir.file("types.db");
  // Rows come out in the order of their cells in the file: SQLite fills a
  // page from its end, so the last row inserted comes first.
  make_db(db,
          "CREATE TABLE n(id INTEGER PRIMARY KEY, tag TEXT, v);"
          "INSERT INTO n VALUES(1,'null-value',NULL),(2,'zero-value',0),(3,'one-value',1),"
          "(4,'int8-value',100),(5,'int8-negative',-2),(6,'int16-value',300),"
          "(7,'int16-min',-32768),(8,'int24-value',100000),(9,'int24-min',-8388608),"
          "(10,'int32-max',2147483647),(11,'int32-min',-2147483648),"
          "(12,'int48-value',1099511627776),(13,'int48-min',-140737488355328),"
          "(14,'int64-max',9223372036854775807),(15,'int64-min',-9223372036854775808),"
          "(16,'pi',3.1415926),(17,'minus-two',-2.0),(18,'huge',1e20),(19,'inf',9e999),"
          "(20,'minus-inf',-9e999),"
          "(21,'text','a \"q\", b'||char(10)||'c h'||char(233)||'llo'),"
          "(22,'blob',x'00FF7f'),(23,'empty-text',''),(24,'empty-blob',x''),"
          "(-5,'negative-rowid',7),(9223372036854775807,'max-rowid',8);"
          "CREATE TABLE m(a, b, c);"
          "INSERT INTO m VALUES(1, 2, 'three'), ('x', 'y', 'zzzzzzzzz');");
  EXPECT_EQ(run_ok({"-i", db}),
            "9223372036854775807,NULL,\"max-rowid\",x8\n"
            "-5,NULL,\"negative-rowid\",x7\n"
            "24,NULL,\"empty-blob\",x''\n"
            "23,NULL,\"empty-text\",\"\"\n"
            "22,NULL,\"blob\",x'00FF7F'\n"
            "21,NULL,\"text\",\"a \"\"q\"\", b.c h..llo\"\n"
            "20,NULL,\"minus-inf\",-INF\n"
            "19,NULL,\"inf\",INF\n"
            "18,NULL,\"huge\",100000000000000000000.000000\n"
            "17,NULL,\"minus-two\",-2.000000\n"
            "16,NULL,\"pi\",3.141593\n"
            "15,NULL,\"int64-min\",-9223372036854775808\n"
            "14,NULL,\"int64-max\",9223372036854775807\n"
            "13,NULL,\"int48-min\",-140737488355328\n"
            "12,NULL,\"int48-value\",1099511627776\n"
            "11,NULL,\"int32-min\",-2147483648\n"
            "10,NULL,\"int32-max\",2147483647\n"
            "9,NULL,\"int24-min\",-8388608\n"
            "8,NULL,\"int24-value\",100000\n"
            "7,NULL,\"int16-min\",-32768\n"
            "6,NULL,\"int16-value\",300\n"
            "5,NULL,\"int8-negative\",x-2\n"
            "4,NULL,\"int8-value\",x100\n"
            "3,NULL,\"one-value\",1\n"
            "2,NULL,\"zero-value\",0\n"
            "1,NULL,\"null-value\",NULL\n"
            "2,\"x\",\"y\",\"zzzzzzzzz\"\n"
            "1,1,x2,\"three\"\n");
}

TEST(EndToEnd, DeletedRowsInFreeblocks) {
  scratch_dir dir;
  const std::string db = dir.file("freeblocks.db");
  // Rowids and payloads above 127 take two-byte varints, so the freeblock
  // header overwrites exactly the deleted cell's prefix and its record
  // header survives.
  std::string sql = "CREATE TABLE d(id INTEGER PRIMARY KEY, a TEXT, b INTEGER); BEGIN;";
  auto text = [](int id) {
    std::string s;
    for (int i = 0; i < 15; ++i) s += "row " + std::to_string(id) + " ";
    return s;
  };
  for (int id = 1000; id < 1010; ++id)
    sql += "INSERT INTO d VALUES(" + std::to_string(id) + ",'" + text(id) + "'," +
           std::to_string(id * 3) + ");";
  sql += "COMMIT;";
  make_db(db, sql);
  exec_db(db, "DELETE FROM d WHERE id IN (1003, 1006);");
  // The first freeblock is the one lowest in the page (1006's); its record
  // fills the freeblock's budget and ends the search of the page.
  EXPECT_EQ(run_ok({"-i", db, "--freespace"}), "-1,NULL,\"" + text(1006) + "\",3018\n");
  EXPECT_EQ(run_ok({"-i", db, "--freespace", "--removed-only"}),
            "-1,NULL,\"" + text(1006) + "\",3018\n");
  // Without --freespace the page is still searched in free-space mode, from
  // its first byte: every line is a free-space line, no live row is printed.
  const std::string plain = run_ok({"-i", db});
  ASSERT_FALSE(plain.empty());
  for (const std::string& line : split_lines(plain)) EXPECT_EQ(line.rfind("-1,", 0), 0u) << line;
  EXPECT_EQ(plain.find("row 1009"), std::string::npos);
}

TEST(EndToEnd, RowsOnFreelistPages) {
  scratch_dir dir;
  const std::string db = dir.file("freelist.db");
  auto line = [](int id) {
    return std::to_string(id) + ",NULL,\"Note " + std::to_string(id) +
           "\",\"Filler text for note number " + std::to_string(id) + "\"";
  };
  std::string sql = "CREATE TABLE notes(id INTEGER PRIMARY KEY, title TEXT, body TEXT); BEGIN;";
  for (int id = 1; id <= 300; ++id)
    sql += "INSERT INTO notes VALUES(" + std::to_string(id) + ",'Note " + std::to_string(id) +
           "','Filler text for note number " + std::to_string(id) + "');";
  sql += "COMMIT;";
  make_db(db, sql);
  exec_db(db, "DELETE FROM notes WHERE id BETWEEN 40 AND 260;");
  const std::string out = run_ok({"-i", db});
  // The deleted rows of the freelist's trunk page (its first bytes now hold
  // the freelist, its type byte is 0: searched in standard mode) are all
  // back, each once and whole. Pages that kept some rows hold freeblocks and
  // are searched in free-space mode; their lines begin with -1.
  std::multiset<int> ids;
  for (const std::string& l : split_lines(out)) {
    if (l.rfind("-1,", 0) == 0) continue;
    const int id = std::stoi(l);
    if (id >= 180 && id <= 250) {
      EXPECT_EQ(l, line(id));
    }
    ids.insert(id);
  }
  for (int id = 180; id <= 250; ++id) EXPECT_EQ(ids.count(id), 1u) << id;
}

TEST(EndToEnd, OverflowingRowsAreAssembled) {
  scratch_dir dir;
  const std::string db = dir.file("overflow.db");
  // Each overflowing row is the first cell of its page, at the page's end.
  const std::string body = digits(10000);
  std::string blob_hex;
  for (int i = 0; i < 6000; ++i) {
    static const char hex[] = "0123456789ABCDEF";
    blob_hex += hex[(i * 3) % 10];
    blob_hex += hex[(i / 10) % 10];
  }
  make_db(db,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, title TEXT, body TEXT);"
          "INSERT INTO t VALUES(1, 'long text', '" + body + "');"
          "INSERT INTO t VALUES(2, 'short text', 'after the long one');"
          "CREATE TABLE b(id INTEGER PRIMARY KEY, title TEXT, data BLOB);"
          "INSERT INTO b VALUES(7, 'long blob', x'" + blob_hex + "');");
  EXPECT_EQ(run_ok({"-i", db}),
            "2,NULL,\"short text\",\"after the long one\"\n"
            "1,NULL,\"long text\",\"" + body + "\"\n"
            "7,NULL,\"long blob\",x'" + blob_hex + "'\n");
}

TEST(EndToEnd, FineSearchFindsRowsInsideRows) {
  scratch_dir dir;
  const std::string db = dir.file("fine.db");
  // The blob holds the bytes of a whole cell: rowid 5, cells x42, x43, "hello".
  make_db(db,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, data BLOB);"
          "INSERT INTO t VALUES(1, 'carrier', x'0B05040101172A2B68656C6C6F');");
  EXPECT_EQ(run_ok({"-i", db}), "1,NULL,\"carrier\",x'0B05040101172A2B68656C6C6F'\n");
  EXPECT_EQ(run_ok({"-i", db, "--fine-search"}),
            "1,NULL,\"carrier\",x'0B05040101172A2B68656C6C6F'\n5,x42,x43,\"hello\"\n");
}

TEST(EndToEnd, RemovedOnlyPrintsRowsKeyedMinusOne) {
  scratch_dir dir;
  const std::string db = dir.file("removed.db");
  make_db(db,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, v INTEGER);"
          "INSERT INTO t VALUES(1, 'first row', 10), (-1, 'keyed minus one', 11),"
          " (2, 'second row', 12);");
  EXPECT_EQ(run_ok({"-i", db, "--removed-only"}), "-1,NULL,\"keyed minus one\",x11\n");
  // With --freespace and no freeblock anywhere nothing is printed.
  EXPECT_EQ(run_ok({"-i", db, "--freespace"}), "");
}
