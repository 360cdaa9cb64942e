// Deleted rows in the byte state that needs a rebuilt header: rowid < 128 and
// a record < 128 bytes, so the freeblock header written over a freed cell
// covers its payload length, rowid, header-size byte and first serial type.
// Each shape is built by the SQLite library in the order of frees that
// leaves the cell's end known only from what follows it; each deleted row
// must be printed with its values and a reading no surer than the bytes
// allow, and no wrong row may be printed as `cell` or `rebuilt`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

// A deleted row, its canonical line as the library read it before the
// delete, and the readings it may be printed with ("" : none expected).
struct deleted_row {
  std::string table;
  std::string line;
  std::vector<std::string> readings;
};

using rows_out = std::vector<deleted_row>;
const std::vector<std::string> precise{"cell", "rebuilt"};
const std::vector<std::string> inferred{"inferred"};
const std::vector<std::string> any_reading{"cell", "rebuilt", "inferred"};

std::string row_line(sqlite3* db, const std::string& table, int64_t rowid) {
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = "SELECT rowid, * FROM " + table + " WHERE rowid = " + std::to_string(rowid);
  std::string line;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    line = std::to_string(sqlite3_column_int64(stmt, 0));
    for (int i = 1; i < sqlite3_column_count(stmt); ++i) line += "|" + canonical_column(stmt, i);
  }
  sqlite3_finalize(stmt);
  EXPECT_FALSE(line.empty()) << sql;
  return line;
}

void delete_row(sqlite3* db, const std::string& table, int64_t rowid, const std::vector<std::string>& readings,
                rows_out* out) {
  out->push_back({table, row_line(db, table, rowid), readings});
  run_sql(db, "DELETE FROM " + table + " WHERE rowid = " + std::to_string(rowid));
}

std::string params(size_t n) {
  std::string s = "?";
  for (size_t i = 1; i < n; ++i) s += ",?";
  return s;
}

void insert(sqlite3* db, const std::string& table, const std::vector<bound_value>& values) {
  insert_row(db, "INSERT INTO " + table + " VALUES(" + params(values.size()) + ")", values);
}

double cents(double v) { return std::round(v * 100) / 100; }

const char* const names[] = {"Orvaline", "Tessmark", "Quibbly", "Frandor", "Yelvet", "Marrowby", "Zintac"};

// Two neighbours freed, the lower address (higher rowid) first: its header
// holds its exact size, then the cell above merges into its block whole.
// The first value's size is settled only by where the whole cell begins,
// less up to three fragment bytes, and a shorter value fits there too.
void fragment_slack(sqlite3* db, rows_out* out) {
  run_sql(db, "CREATE TABLE shipment(batch INTEGER NOT NULL, carrier TEXT, dest TEXT, kg REAL);"
              "CREATE TABLE permit(serialno INT NOT NULL, holder TEXT, fee REAL);"
              "CREATE TABLE glossary(term TEXT NOT NULL, gloss TEXT, weight REAL)");
  for (int i = 1; i <= 40; ++i) {
    insert(db, "shipment", {bind_int(256 * (3 + 2 * i) + 0x41 + i % 26), bind_text(names[i % 7]),
                            bind_text(names[(i * 3) % 7] + std::string(" Ford")), bind_real(cents(12.5 + i * 3.71))});
    insert(db, "permit", {bind_int(0x020000 + 0x300 * i + 0x61 + i % 20), bind_text(names[(i * 5) % 7]),
                          bind_real(i * 1.125 + 0.3)});
    insert(db, "glossary", {bind_text(std::string(names[i % 7]) + std::to_string(i)),
                            bind_text("see " + std::string(names[(i * 2) % 7])), bind_real(0.25 + i / 8.0 + 0.001)});
  }
  for (const char* table : {"shipment", "permit", "glossary"})
    for (int r : {4, 11, 18, 25, 32}) {
      delete_row(db, table, r + 1, inferred, out);
      delete_row(db, table, r, {"cell"}, out);
    }
}

// Rows N-2, N-1, N-3, N freed in that order, then the rest from N-4 down, on
// a page then searched byte by byte: N-2 (k) heads its own block, whose old
// header gives its exact end; N-1 ends at k's stale header, whose recorded
// end is a whole cell; N has only slack before the next boundary.
void own_block_exact(sqlite3* db, rows_out* out) {
  run_sql(db, "CREATE TABLE kiosk(code TEXT, opened INTEGER);"
              "INSERT INTO kiosk VALUES('K-000', 1650000000), ('K-037', 1650086400);"
              "CREATE TABLE ledger(entry INTEGER NOT NULL, payee TEXT, memo TEXT, amount REAL);"
              "CREATE TABLE tally(ticket INT, clerk TEXT, pence INTEGER);"
              "CREATE TABLE lexicon(lemma TEXT NOT NULL, sense TEXT, freq REAL)");
  const int n = 16;
  for (int i = 1; i <= n; ++i) {
    const bool wide = i == n - 2 || i == n;
    insert(db, "ledger", {bind_int(wide ? 256 * (4 + 3 * i) + 0x50 + i : 10 + 3 * i), bind_text(names[i % 7]),
                          bind_text("memo " + std::to_string(i % 5)), bind_real(cents(7.77 * i + 0.05))});
    insert(db, "tally", {bind_int(wide ? 0x030000 + 0x111 * i + 0x41 : 20 + i), bind_text(names[(i * 5) % 7]),
                         bind_int(300 + 17 * i)});
    insert(db, "lexicon", {bind_text(wide ? names[i % 7] + std::string("-") + names[(i * 3) % 7]
                                          : std::string(1, static_cast<char>('A' + i))),
                           bind_text("sense " + std::to_string(i % 4)), bind_real(i / 3.0 + 0.01)});
  }
  for (const char* table : {"ledger", "tally", "lexicon"}) {
    const bool text_first = std::string(table) == "lexicon";
    delete_row(db, table, n - 2, {"rebuilt"}, out);
    // A one-letter text also reads as an empty one ending a byte earlier.
    delete_row(db, table, n - 1, text_first ? inferred : precise, out);
    delete_row(db, table, n - 3, precise, out);
    delete_row(db, table, n, inferred, out);
    for (int r = n - 4; r >= 1; --r) delete_row(db, table, r, precise, out);
  }
  run_sql(db, "DROP TABLE ledger");
}

// k freed with both neighbours live, then k+1 below it (heading the block,
// k's header stale), then k-1 above it (merged whole).
void stale_header_end(sqlite3* db, rows_out* out) {
  run_sql(db, "CREATE TABLE sensor_log(slot INTEGER NOT NULL, probe TEXT, reading REAL, flag INTEGER)");
  for (int i = 1; i <= 48; ++i)
    insert(db, "sensor_log", {bind_int(2 + (i * 5) % 120), bind_text(names[i % 7]),
                              bind_real(-3.25 + i * 0.61 + 0.0625), bind_int(1000 + i * 7)});
  for (int k : {6, 15, 24, 33, 42}) {
    delete_row(db, "sensor_log", k, precise, out);
    delete_row(db, "sensor_log", k + 1, precise, out);
    delete_row(db, "sensor_log", k - 1, {"cell"}, out);
  }
}

// r freed, then r+1 below it: r+1 has only slack before r's stale header;
// r, after it, is read from its own header's exact end.
void rest_of_block(sqlite3* db, rows_out* out) {
  run_sql(db, "CREATE TABLE bookings(room INTEGER, guest TEXT, nights INTEGER, rate REAL)");
  for (int i = 1; i <= 60; ++i)
    insert(db, "bookings", {bind_int(256 * (40 + i) + 0x61 + i % 26), bind_text(names[i % 7]),
                            bind_int(1 + i % 9), bind_real(cents(48.5 + i * 2.35) + 0.0625)});
  for (int r : {3, 12, 21, 30, 39, 48, 57}) {
    delete_row(db, "bookings", r, {"rebuilt"}, out);
    delete_row(db, "bookings", r + 1, inferred, out);
  }
}

// Two tables emptied lowest address first, then dropped in creation order:
// the second schema row's first value, 'table', has only slack before the
// first one's stale header, but no shorter word is a type.
void schema_rows(sqlite3* db, rows_out* out) {
  run_sql(db, "CREATE TABLE herbarium(sheet INTEGER, genus TEXT, collector TEXT, alt REAL);"
              "CREATE TABLE cuttings(tray INTEGER, cultivar TEXT, rooted INTEGER)");
  for (int i = 1; i <= 12; ++i) {
    insert(db, "herbarium", {bind_int(5 + i), bind_text(names[i % 7]), bind_text("I. Vrell"), bind_real(812.5 + i * 41.25)});
    insert(db, "cuttings", {bind_int(3 + 2 * i), bind_text("cv. " + std::string(names[(i * 3) % 7])), bind_int(100 + i)});
  }
  for (const char* table : {"herbarium", "cuttings"})
    for (int r = 12; r >= 1; --r) delete_row(db, table, r, precise, out);
  run_sql(db, "DROP TABLE herbarium; DROP TABLE cuttings");
}

// A row reinserted one byte shorter into a freed slot (one fragment byte),
// its upper neighbour freed, then the row: it ends one byte before the
// neighbour's stale header, and the reading that ends at the header fits
// too, with every value shifted. That one may print, but only as inferred.
void fragment_guess(sqlite3* db, rows_out* out) {
  run_sql(db, "CREATE TABLE parts(lot INTEGER, maker TEXT, kind TEXT, mass REAL)");
  for (int i = 1; i <= 20; ++i)
    insert(db, "parts", {bind_int(256 * (10 + i) + 0x41 + i), bind_text("maker" + std::to_string(10 + i)),
                         bind_text("kind-" + std::string(static_cast<size_t>(i % 3 + 3), 'x')), bind_real(1.5 + i / 16.0)});
  run_sql(db, "DELETE FROM parts WHERE rowid = 10");
  insert(db, "parts", {bind_int(0x55), bind_text("maker20"), bind_text("kind-xxxx"), bind_real(1.5 + 10 / 16.0)});
  delete_row(db, "parts", 9, precise, out);
  delete_row(db, "parts", 21, {}, out);
}

struct shape {
  const char* name;
  int page_size;
  std::function<void(sqlite3*, rows_out*)> build;
};

// Whether the printed row holds the line's values (an overwritten rowid
// prints empty).
bool holds(const deep_csv_row& row, const std::string& line) {
  std::string printed = row.rowid;
  for (const std::string& v : row.values) printed += "|" + canonical_field(v);
  return printed == line || (row.rowid.empty() && printed == line.substr(line.find('|')));
}

}  // namespace

TEST(DeepPatterns, EachSurvivingRowIsReadNoSurerThanItsBytesAllow) {
  const std::vector<shape> shapes{{"fragment slack", 8192, fragment_slack},
                                  {"own block exact", 2048, own_block_exact},
                                  {"stale header end", 4096, stale_header_end},
                                  {"rest of block", 16384, rest_of_block},
                                  {"schema rows", 4096, schema_rows},
                                  {"fragment guess", 4096, fragment_guess}};
  scratch_dir dir;
  for (const shape& s : shapes) {
    SCOPED_TRACE(s.name);
    const std::string db = dir.file("pattern.db");
    sqlite3* handle = open_layout_db(db, {s.page_size, "UTF-8", 0, "NONE", false});
    ASSERT_NE(handle, nullptr);
    rows_out deleted;
    s.build(handle, &deleted);
    sqlite3_close(handle);
    const run_result r = run_sarvek({"-i", db, "--deep", "--removed-only"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
    for (const deleted_row& d : deleted) {
      if (d.readings.empty()) continue;
      std::vector<std::string> got;
      for (const deep_csv_row& row : rows)
        if (row.table == d.table && holds(row, d.line)) got.push_back(row.reading);
      ASSERT_EQ(got.size(), 1u) << d.table << " " << d.line;
      EXPECT_NE(std::find(d.readings.begin(), d.readings.end(), got[0]), d.readings.end())
          << d.table << " " << d.line << " read as " << got[0];
    }
    // A row that is no deleted version may only be an inferred one.
    for (const deep_csv_row& row : rows) {
      if (row.table == "sqlite_master" || row.reading == "inferred") continue;
      const bool known = std::any_of(deleted.begin(), deleted.end(), [&](const deleted_row& d) {
        return d.table == row.table && holds(row, d.line);
      });
      EXPECT_TRUE(known) << row.table << " " << row.reading << " page " << row.page << " offset " << row.offset;
    }
  }
}

// --no-inferred leaves out exactly the inferred rows.
TEST(DeepPatterns, NoInferredLeavesOutTheInferredRows) {
  scratch_dir dir;
  const std::string db = dir.file("slack.db");
  sqlite3* handle = open_layout_db(db, {8192, "UTF-8", 0, "NONE", false});
  ASSERT_NE(handle, nullptr);
  rows_out deleted;
  fragment_slack(handle, &deleted);
  sqlite3_close(handle);
  const run_result all = run_sarvek({"-i", db, "--deep"});
  const run_result sure = run_sarvek({"-i", db, "--deep", "--no-inferred"});
  ASSERT_EQ(sure.status, 0) << sure.err;
  std::string expected;
  size_t inferred_rows = 0;
  for (size_t at = 0; at < all.out.size();) {
    const size_t end = all.out.find('\n', at) + 1;
    const std::string line = all.out.substr(at, end - at);
    if (line.find(",inferred,") == std::string::npos) expected += line;
    else ++inferred_rows;
    at = end;
  }
  EXPECT_EQ(inferred_rows, 15u);
  EXPECT_EQ(sure.out, expected);
}

// A freed cell merged whole into the block before it, then a new row taken
// from the block's end over its tail: the values before the new cell print,
// the rest empty, with a note; the new row is live and not printed again,
// and the cell before the cut one is rebuilt up to it.
TEST(DeepPatterns, ACellOverwrittenAtItsTailKeepsItsFirstValues) {
  scratch_dir dir;
  const std::string db = dir.file("tail.db");
  sqlite3* handle = open_layout_db(db, {4096, "UTF-8", 0, "NONE", false});
  ASSERT_NE(handle, nullptr);
  run_sql(handle, "CREATE TABLE memo(id INTEGER PRIMARY KEY, title TEXT, body TEXT)");
  for (int i = 1; i <= 12; ++i)
    insert(handle, "memo", {bind_int(i), bind_text("title " + std::to_string(i)), bind_text(std::string(60, static_cast<char>('a' + i)))});
  run_sql(handle, "DELETE FROM memo WHERE id = 7; DELETE FROM memo WHERE id = 6");
  insert(handle, "memo", {bind_int(40), bind_text("new"), bind_text("short body")});
  sqlite3_close(handle);
  const run_result r = run_sarvek({"-i", db, "--deep", "--removed-only"});
  ASSERT_EQ(r.status, 0);
  const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
  const auto six = std::find_if(rows.begin(), rows.end(), [](const deep_csv_row& row) { return row.rowid == "6"; });
  ASSERT_NE(six, rows.end()) << r.out;
  ASSERT_EQ(six->values.size(), 3u);
  EXPECT_EQ(six->values[0], "6");
  EXPECT_EQ(six->values[1], "\"title 6\"");
  EXPECT_EQ(six->values[2], "");
  EXPECT_NE(r.err.find("offset " + std::to_string(six->offset % 4096) + " was overwritten from offset"), std::string::npos)
      << r.err;
  for (const deep_csv_row& row : rows) EXPECT_NE(row.rowid, "40");
  // The row freed first, whose start the block's header overwrote, ends
  // where the cut one begins.
  const auto seven = std::find_if(rows.begin(), rows.end(),
                                  [](const deep_csv_row& row) { return row.values.size() == 3 && row.values[1] == "\"title 7\""; });
  ASSERT_NE(seven, rows.end()) << r.out;
  EXPECT_EQ(seven->reading, "rebuilt");
  EXPECT_EQ(seven->values[2], "\"" + std::string(60, 'a' + 7) + "\"");

  // The same in a table without rowid: its key tells that the row is gone.
  const std::string keyed = dir.file("keyed.db");
  handle = open_layout_db(keyed, {4096, "UTF-8", 0, "NONE", false});
  ASSERT_NE(handle, nullptr);
  run_sql(handle, "CREATE TABLE memo(k TEXT PRIMARY KEY, title TEXT, body TEXT) WITHOUT ROWID");
  for (int i = 1; i <= 12; ++i)
    insert(handle, "memo", {bind_text("k" + std::to_string(10 + i)), bind_text("title " + std::to_string(i)),
                            bind_text(std::string(60, static_cast<char>('a' + i)))});
  run_sql(handle, "DELETE FROM memo WHERE k = 'k17'; DELETE FROM memo WHERE k = 'k16'");
  insert(handle, "memo", {bind_text("k50"), bind_text("new"), bind_text("short body")});
  sqlite3_close(handle);
  const run_result w = run_sarvek({"-i", keyed, "--deep", "--removed-only"});
  ASSERT_EQ(w.status, 0);
  const std::vector<deep_csv_row> kept = parse_deep_csv(w.out);
  ASSERT_EQ(kept.size(), 1u) << w.out;
  EXPECT_EQ(kept[0].values, (std::vector<std::string>{"\"k16\"", "\"title 6\"", ""}));
  EXPECT_NE(w.err.find("was overwritten from offset"), std::string::npos) << w.err;
}

// Deleted rows whose values overflowed, their cells on a page still in use:
// one whose chain lies whole on the freelist is read whole; one whose chain
// a new row partly took prints its part on the page, the rest empty, with a
// note naming where it broke.
TEST(DeepPatterns, OverflowChainsAreTakenWholeOrNotAtAll) {
  scratch_dir dir;
  const std::string db = dir.file("chains.db");
  sqlite3* handle = open_layout_db(db, {1024, "UTF-8", 0, "NONE", false});
  ASSERT_NE(handle, nullptr);
  run_sql(handle, "CREATE TABLE docs(id INTEGER PRIMARY KEY, name TEXT, body BLOB); CREATE TABLE other(b BLOB)");
  std::vector<std::string> bodies;
  for (int i = 1; i <= 4; ++i) {
    std::string body;
    // A payload of 4203 bytes keeps 123 on the page, so the four cells share it.
    for (int k = 0; k < 4193; ++k) body += static_cast<char>((k * 7 + i * 13) & 0xFF);
    bodies.push_back(body);
    insert(handle, "docs", {bind_int(i), bind_text("doc " + std::to_string(i)), bind_blob(body)});
  }
  run_sql(handle, "DELETE FROM docs WHERE id = 2");
  run_sql(handle, "DELETE FROM docs WHERE id = 3");
  insert(handle, "other", {bind_blob(std::string(1500, 'z'))});
  sqlite3_close(handle);
  const run_result r = run_sarvek({"-i", db, "--deep", "--removed-only"});
  ASSERT_EQ(r.status, 0);
  std::map<std::string, deep_csv_row> by_name;
  for (const deep_csv_row& row : parse_deep_csv(r.out))
    if (row.values.size() == 3) by_name[row.values[1]] = row;
  const auto hex = [](const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "x'";
    for (const unsigned char c : bytes) s += std::string{digits[c >> 4], digits[c & 15]};
    return s + "'";
  };
  // The row freed last lost the pages the new row took first: its chain
  // breaks; the one freed before it kept its chain whole.
  ASSERT_EQ(by_name.count("\"doc 2\"") + by_name.count("\"doc 3\""), 2u) << r.out.substr(0, 300);
  const bool two_whole = by_name["\"doc 2\""].values[2] == hex(bodies[1]);
  const bool three_whole = by_name["\"doc 3\""].values[2] == hex(bodies[2]);
  EXPECT_NE(two_whole, three_whole);
  const deep_csv_row& broken = by_name[two_whole ? "\"doc 3\"" : "\"doc 2\""];
  EXPECT_EQ(broken.values[2], "");
  EXPECT_NE(r.err.find("overflows, and its chain breaks at page"), std::string::npos) << r.err;
}
