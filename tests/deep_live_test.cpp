// The deep mode's live rows against the SQLite library: every row of every
// table, value by value with its storage class, on databases of every page
// size, text encoding, reserve and auto-vacuum mode.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

struct thresholds {
  int usable, table_max, index_max, min_local;
};

thresholds thresholds_of(const db_layout& layout) {
  const int u = layout.page_size - layout.reserve;
  return {u, u - 35, (u - 12) * 64 / 255 - 23, (u - 12) * 32 / 255 - 23};
}

std::string random_bytes(std::mt19937* rng, size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((*rng)() & 0xFF);
  return s;
}

// Printable text with quotes, commas, line feeds and non-ASCII letters.
std::string random_text(std::mt19937* rng, size_t n) {
  static const char* pieces[] = {"a", "b", "Z", " ", ",", "\"", "\n", "\xC3\xA9", "\xE2\x82\xAC",
                                 "\xF0\x9F\x98\x80", "'", "x", "0", "9"};
  std::string s;
  while (s.size() < n) s += pieces[(*rng)() % 14];
  return s;
}

const char* const schema_sql = R"sql(
CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, age INT, score REAL, photo BLOB, note);
CREATE INDEX people_name ON people(name);
CREATE TABLE edge(id INTEGER PRIMARY KEY, b BLOB, t TEXT);
CREATE TABLE kv(k TEXT, n INT, v, PRIMARY KEY(n, k)) WITHOUT ROWID;
CREATE TABLE st(a INTEGER PRIMARY KEY, b TEXT, c REAL, d ANY, e BLOB, f INT) STRICT;
CREATE TABLE alt(x);
CREATE TABLE deep(id INTEGER PRIMARY KEY, pad TEXT);
CREATE TABLE "we""ird [name]" ( /* split */ "a b" TEXT, [select] INT, `c``d` -- comment
  , 'e''f' REAL,	"na)ve" DEFAULT 'x,y', UNIQUE("a b"));
CREATE TABLE seq(id INTEGER PRIMARY KEY AUTOINCREMENT, v);
CREATE TABLE keyless(a, b, c);
CREATE TABLE desc_key(x INTEGER PRIMARY KEY DESC, y);
CREATE TABLE big_int(x BIGINT PRIMARY KEY, y);
CREATE VIEW adults AS SELECT name FROM people WHERE age >= 18;
CREATE TRIGGER people_log AFTER INSERT ON people BEGIN INSERT INTO seq(v) VALUES(new.name); END;
CREATE VIRTUAL TABLE docs USING fts5(title, body);
)sql";

void fill_people(sqlite3* db, std::mt19937* rng, int rows) {
  static const int64_t widths[] = {0, 1, -1, 127, -128, 32767, 8388607, -2147483648LL,
                                   140737488355327LL, -9223372036854775807LL - 1};
  for (int i = 0; i < rows; ++i) {
    bound_value note;
    switch (i % 5) {
      case 0: note = bind_int(widths[i % 10]); break;
      case 1: note = bind_real(i * 0.1); break;
      case 2: note = bind_text(random_text(rng, i % 40)); break;
      case 3: note = bind_blob(random_bytes(rng, i % 30)); break;
      default: break;
    }
    insert_row(db, "INSERT INTO people(name, age, score, photo, note) VALUES(?,?,?,?,?)",
               {bind_text(random_text(rng, 1 + i % 50)), bind_int(widths[(i + 3) % 10]),
                i % 7 == 0 ? bind_int(i) : bind_real(i / 3.0 - 1e-300 * i), bind_blob(random_bytes(rng, i % 90)),
                note});
  }
}

// Payloads at the edges of the local-size rule: around X, and around the
// size whose local part K just fits or just does not; chains of many pages.
void fill_edges(sqlite3* db, std::mt19937* rng, const thresholds& t) {
  std::vector<int> sizes;
  for (int d = -4; d <= 4; ++d) {
    sizes.push_back(t.table_max + d);
    sizes.push_back(t.usable - 4 + t.table_max + d);
  }
  sizes.push_back(3 * t.usable);
  sizes.push_back(10 * t.usable + 17);
  for (size_t i = 0; i < sizes.size(); ++i) {
    // The record is header (3 or 4 bytes) + blob; the size is the blob's.
    const size_t n = static_cast<size_t>(std::max(1, sizes[i] - 4));
    insert_row(db, "INSERT INTO edge(b, t) VALUES(?, ?)",
               {bind_blob(random_bytes(rng, n)), i % 3 == 0 ? bind_text(random_text(rng, n / 2)) : bind_null()});
  }
}

void fill_kv(sqlite3* db, std::mt19937* rng, const thresholds& t) {
  for (int i = 0; i < 120; ++i) {
    const size_t key = static_cast<size_t>(std::max(1, t.index_max - 30 + (i % 9) * 4));
    insert_row(db, "INSERT INTO kv VALUES(?, ?, ?)",
               {bind_text(random_text(rng, key / 2)), bind_int(i % 13),
                i % 4 == 0 ? bind_blob(random_bytes(rng, static_cast<size_t>(t.usable + i))) : bind_int(i)});
  }
}

void fill_rest(sqlite3* db, std::mt19937* rng, const db_layout& layout) {
  for (int i = 0; i < 40; ++i)
    insert_row(db, "INSERT INTO st(b, c, d, e, f) VALUES(?, ?, ?, ?, ?)",
               {bind_text(random_text(rng, i)), i % 2 ? bind_real(i) : bind_real(i + 0.5),
                i % 3 == 0 ? bind_text("any") : bind_int(i), bind_blob(random_bytes(rng, i)),
                bind_int(i * 1000003)});
  run_sql(db, "INSERT INTO alt VALUES(1),(2.5),('three');"
              "ALTER TABLE alt ADD COLUMN y INTEGER DEFAULT 7;"
              "ALTER TABLE alt ADD COLUMN z TEXT DEFAULT 'hi';"
              "ALTER TABLE alt ADD COLUMN w REAL DEFAULT 3;"
              "ALTER TABLE alt ADD COLUMN v DEFAULT x'00ff';"
              "ALTER TABLE alt ADD COLUMN u TEXT DEFAULT 12;"
              "ALTER TABLE alt ADD COLUMN s INT DEFAULT '-5';"
              "INSERT INTO alt VALUES(4, 5, 'six', 7, x'08', 9, 10);");
  // A table b-tree of at least three levels where that stays small.
  if (layout.page_size <= 4096) {
    const int rows = layout.page_size / 2;
    for (int i = 0; i < rows; ++i)
      insert_row(db, "INSERT INTO deep(pad) VALUES(?)",
                 {bind_text(random_text(rng, static_cast<size_t>(layout.page_size / 4)))});
  }
  for (int i = 0; i < 30; ++i)
    insert_row(db, "INSERT INTO \"we\"\"ird [name]\" VALUES(?, ?, ?, ?, ?)",
               {bind_text(random_text(rng, 5 + i)), bind_int(i), bind_text("c"), bind_real(i * 1.5),
                i % 2 ? bind_null() : bind_text("w")});
  run_sql(db, "INSERT INTO \"we\"\"ird [name]\"(\"a b\") VALUES('defaults');"
              "INSERT INTO keyless VALUES(1, 2, 3), (NULL, 'x', x'00');"
              "INSERT INTO desc_key VALUES(5, 'five'), (-3, 'minus three');"
              "INSERT INTO big_int VALUES(5, 'five'), (9, 'nine');"
              "INSERT INTO docs VALUES('first', 'the quick brown fox'), ('second', 'jumps over');"
              "INSERT INTO people(id, name) VALUES(9223372036854775807, 'max'), (-7, 'negative');");
}

void make_rich_db(const std::string& path, const db_layout& layout) {
  sqlite3* db = open_layout_db(path, layout);
  ASSERT_NE(db, nullptr);
  std::mt19937 rng(static_cast<unsigned>(layout.page_size + layout.reserve));
  const thresholds t = thresholds_of(layout);
  run_sql(db, schema_sql);
  run_sql(db, "BEGIN");
  fill_people(db, &rng, 300);
  fill_edges(db, &rng, t);
  fill_kv(db, &rng, t);
  fill_rest(db, &rng, layout);
  run_sql(db, "COMMIT");
  // Deletions and updates leave freeblocks and free pages; the live rows of
  // those pages must all still be read.
  run_sql(db, "DELETE FROM people WHERE id % 7 = 3; UPDATE people SET name = name || '!' WHERE id % 11 = 0;"
              "DELETE FROM edge WHERE id = 3; DELETE FROM kv WHERE n = 5; DELETE FROM deep WHERE id % 3 = 0;");
  if (layout.auto_vacuum == "INCREMENTAL") run_sql(db, "PRAGMA incremental_vacuum(2);");
  sqlite3_close(db);
}

std::string layout_name(const db_layout& l) {
  return std::to_string(l.page_size) + "/" + l.encoding + "/r" + std::to_string(l.reserve) + "/" +
         l.auto_vacuum;
}

std::vector<db_layout> layouts() {
  static const char* encodings[] = {"UTF-8", "UTF-16le", "UTF-16be"};
  static const char* vacuums[] = {"NONE", "FULL", "INCREMENTAL"};
  std::vector<db_layout> out;
  int i = 0;
  for (int size = 512; size <= 65536; size *= 2, ++i)
    out.push_back({size, encodings[i % 3], (i % 2) * 32, vacuums[(i / 2) % 3], false});
  out.push_back({4096, "UTF-16be", 32, "FULL", false});
  out.push_back({1024, "UTF-8", 0, "INCREMENTAL", false});
  return out;
}

}  // namespace

TEST(DeepLive, EveryRowOfEveryTableEqualsTheLibrarys) {
  scratch_dir dir;
  for (const db_layout& layout : layouts()) {
    SCOPED_TRACE(layout_name(layout));
    const std::string db = dir.file("rich.db");
    make_rich_db(db, layout);
    const run_result r = run_sarvek({"-i", db, "--deep"});
    ASSERT_EQ(r.status, 0);
    // An undamaged file draws no notes, but for deleted rows whose overflow
    // pages were taken again.
    for (const std::string& line : note_lines(r.err))
      EXPECT_NE(line.find("the deleted record at offset"), std::string::npos) << line;
    const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
    size_t compared = 0;
    for (const std::string& table : sqlite_tables(db)) {
      const std::vector<std::string> expected = sqlite_lines(db, table);
      EXPECT_EQ(deep_lines(rows, table), expected) << "table " << table;
      compared += expected.size();
    }
    // No live row beyond the library's, and all from the b-trees.
    size_t live = 0;
    for (const deep_csv_row& row : rows) {
      if (row.status != "live") continue;
      ++live;
      EXPECT_EQ(row.source, "btree");
    }
    EXPECT_EQ(live, compared);
  }
}
