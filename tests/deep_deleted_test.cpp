// The deep mode's deleted rows against the ground truth: databases built by
// the SQLite library (secure delete off), every version of every row
// recorded as it was written, then the output scored: deleted rows fully
// recovered out of those whose bytes survive, rows partly recovered, false
// records and duplicates.
#include <gtest/gtest.h>

#include <functional>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/provenance.h"
#include "support/ground_truth.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

std::string text_of(std::mt19937* rng, size_t n) {
  static const char* pieces[] = {"a", "b", "k", "Q", " ", ",", "\"", "\xC3\xA9", "z", "7", "\xE2\x82\xAC"};
  std::string s;
  while (s.size() < n) s += pieces[(*rng)() % 11];
  return s;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

std::string hex_blob(std::mt19937* rng, size_t n) {
  static const char hex[] = "0123456789ABCDEF";
  std::string s = "x'";
  for (size_t i = 0; i < n; ++i) {
    const unsigned b = (*rng)() & 0xFF;
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s + "'";
}

const char* const tables_sql[] = {
    "CREATE TABLE contacts(id INTEGER PRIMARY KEY, name TEXT, phone TEXT, age INTEGER, score REAL, photo BLOB)",
    "CREATE TABLE plain(a, b TEXT, c)",
    "CREATE TABLE ambiguous(a, b TEXT)",
    "CREATE TABLE keyed(k INTEGER PRIMARY KEY, v TEXT)",
    "CREATE TABLE files(id INTEGER PRIMARY KEY, name TEXT, data BLOB)",
    "CREATE TABLE words(w TEXT PRIMARY KEY, n INT, note TEXT) WITHOUT ROWID",
    "CREATE TABLE doomed(id INTEGER PRIMARY KEY, note TEXT, n INT)",
    "CREATE TABLE emptied(x TEXT, y INT, z REAL)",
    "CREATE TABLE tagged(id INTEGER PRIMARY KEY AUTOINCREMENT, tag TEXT, weight INTEGER, note TEXT)",
    "CREATE INDEX tagged_tag ON tagged(tag)",
    "CREATE INDEX tagged_pair ON tagged(weight DESC, tag COLLATE NOCASE)",
    "CREATE UNIQUE INDEX tagged_note ON tagged(note)",
    "CREATE INDEX tagged_heavy ON tagged(weight) WHERE weight > 50",
    "CREATE INDEX contacts_phone ON contacts(phone)",
};

// Two texts drawn in the given order: the later column's first or the
// earlier's (two draws of the same database's shape, with other bytes).
std::pair<std::string, std::string> draw_two(bool earlier_first,
                                             const std::function<std::string()>& earlier,
                                             const std::function<std::string()>& later) {
  if (earlier_first) {
    std::string a = earlier();
    return {a, later()};
  }
  std::string b = later();
  return {earlier(), b};
}

std::vector<std::string> history(const db_layout& layout, std::mt19937* rng, bool earlier_first = false) {
  std::vector<std::string> sql(std::begin(tables_sql), std::end(tables_sql));
  const int usable = layout.page_size - layout.reserve;
  // Payload lengths of one, two and (where a page holds them) three bytes.
  for (int i = 1; i <= 60; ++i) {
    const size_t name = i % 10 == 0 ? static_cast<size_t>(std::min(usable / 3, 17000)) : 3 + i % 40;
    // The draws in a fixed order (the operands of + are unsequenced).
    const auto [name_text, photo] = draw_two(earlier_first, [&] { return text_of(rng, name); },
                                             [&] { return i % 3 ? hex_blob(rng, i % 20) : std::string("NULL"); });
    sql.push_back("INSERT INTO contacts(name, phone, age, score, photo) VALUES(" +
                  quoted(name_text) + ", " + quoted("+1-555-" + std::to_string(1000 + i)) + ", " +
                  std::to_string(i * 37 % 90) + ", " + std::to_string(i) + ".25, " +
                  photo + ")");
  }
  static const char* firsts[] = {"NULL", "0", "1", "-7", "300", "70000", "2147483647", "1099511627776",
                                 "9007199254740993", "2.5", "'first text'", "x'C0FFEE'"};
  // Rowids of two bytes: a freeblock header then overwrites the length, the
  // rowid and the header size, and the first serial type survives.
  for (int i = 0; i < 36; ++i)
    sql.push_back("INSERT INTO plain(rowid, a, b, c) VALUES(" + std::to_string(1000 + i) + ", " +
                  firsts[i % 12] + ", " + quoted(text_of(rng, 5 + i)) + ", " + std::to_string(i) + ")");
  // Rowids of one byte: the first serial type is lost too, and for an
  // untyped column only the value's size is left.
  for (int i = 0; i < 12; ++i)
    sql.push_back("INSERT INTO ambiguous VALUES(" + std::string(firsts[i % 12]) + ", " +
                  quoted(text_of(rng, 8 + i)) + ")");
  static const char* rowids[] = {"1", "200", "20000", "3000000", "300000000", "50000000000",
                                 "7000000000000", "900000000000000", "1152921504606846976", "-5"};
  for (const char* r : rowids)
    sql.push_back(std::string("INSERT INTO keyed VALUES(") + r + ", " + quoted(text_of(rng, 12)) + ")");
  for (int i = 0; i < 4; ++i)
    sql.push_back("INSERT INTO files(name, data) VALUES(" + quoted("file" + std::to_string(i)) + ", " +
                  hex_blob(rng, static_cast<size_t>(usable / 2 + i * usable * 2)) + ")");
  for (int i = 0; i < 40; ++i) {
    const auto [word, note] = draw_two(earlier_first, [&] { return text_of(rng, 4); },
                                       [&] { return text_of(rng, 130 + i); });
    sql.push_back("INSERT INTO words VALUES(" + quoted("w" + std::to_string(i) + word) + ", " +
                  std::to_string(i) + ", " + quoted(note) + ")");
  }
  for (int i = 0; i < 30; ++i)
    sql.push_back("INSERT INTO doomed(note, n) VALUES(" + quoted(text_of(rng, 20 + i)) + ", " + std::to_string(i) + ")");
  for (int i = 0; i < 20; ++i)
    sql.push_back("INSERT INTO emptied VALUES(" + quoted(text_of(rng, 8 + i)) + ", " + std::to_string(i * 1000) +
                  ", " + std::to_string(i) + ".5)");
  for (int i = 0; i < 50; ++i) {
    const auto [tag, note] = draw_two(earlier_first, [&] { return text_of(rng, 3); },
                                      [&] { return text_of(rng, 5 + i % 20); });
    sql.push_back("INSERT INTO tagged(tag, weight, note) VALUES(" + quoted("t" + std::to_string(i % 9) + tag) +
                  ", " + std::to_string(i * 7 % 100) + ", " +
                  quoted("note " + std::to_string(i) + note) + ")");
  }
  // Single deletions, a run of adjacent ones, the newest cell (at the start
  // of the content area), updates that grow and shrink rows.
  for (int id : {5, 12, 30, 59}) sql.push_back("DELETE FROM contacts WHERE id = " + std::to_string(id));
  sql.push_back("DELETE FROM contacts WHERE id BETWEEN 40 AND 45");
  sql.push_back("DELETE FROM contacts WHERE id = 60");
  sql.push_back("UPDATE contacts SET name = name || " + quoted(text_of(rng, 30)) + " WHERE id = 20");
  sql.push_back("UPDATE contacts SET name = 'x' WHERE id = 21");
  sql.push_back("DELETE FROM plain WHERE rowid % 3 = 1");
  sql.push_back("DELETE FROM ambiguous WHERE rowid % 2 = 0");
  sql.push_back("DELETE FROM keyed WHERE k <> 1");
  sql.push_back("DELETE FROM files WHERE id = 2");
  // A second chain on the freelist, partly taken again by a new row.
  sql.push_back("DELETE FROM files WHERE id = 3");
  sql.push_back("INSERT INTO files(name, data) VALUES('reused', " + hex_blob(rng, static_cast<size_t>(usable * 3 / 2)) + ")");
  sql.push_back("DELETE FROM words WHERE n % 4 = 0");
  sql.push_back("DELETE FROM emptied");
  sql.push_back("DROP TABLE doomed");
  // Indexed rows deleted and updated (an entry's old key stays behind), the
  // newest ones deleted (AUTOINCREMENT goes on past them), rows of the
  // table without rowid updated.
  sql.push_back("DELETE FROM tagged WHERE id % 4 = 1");
  sql.push_back("UPDATE tagged SET tag = tag || 'u', weight = weight + 1 WHERE id % 5 = 2");
  sql.push_back("DELETE FROM tagged WHERE id > 45");
  sql.push_back("UPDATE words SET note = substr(note, 1, 20) WHERE n % 5 = 1");
  for (int i = 0; i < 2; ++i)
    sql.push_back("INSERT INTO tagged(tag, weight, note) VALUES('late', " + std::to_string(60 + i) + ", " +
                  quoted("late note " + std::to_string(i)) + ")");
  // New rows take some of the freed space.
  for (int i = 0; i < 3; ++i)
    sql.push_back("INSERT INTO contacts(name, age) VALUES(" + quoted(text_of(rng, 6)) + ", " + std::to_string(i) + ")");
  return sql;
}

survival_layout layout_for_survival(const db_layout& layout) {
  survival_layout s;
  s.usable = layout.page_size - layout.reserve;
  s.encoding = layout.encoding;
  s.rowid_alias = {{"contacts", 0}, {"keyed", 0}, {"files", 0}, {"doomed", 0}};
  s.real_columns = {{"contacts", {4}}, {"emptied", {2}}};
  s.without_rowid = {"words"};
  // sqlite_sequence's rows change in place: their old versions do not
  // survive, whatever bytes they share with others.
  s.partial_by_design = {"ambiguous", "sqlite_sequence"};
  s.rowid_alias["tagged"] = 0;
  s.indexes = {{"tagged_tag", {"tagged", {1}}},      {"tagged_pair", {"tagged", {2, 1}}},
               {"tagged_note", {"tagged", {3}}},     {"tagged_heavy", {"tagged", {2}}},
               {"contacts_phone", {"contacts", {2}}}};
  return s;
}

std::vector<db_layout> layouts() {
  static const char* encodings[] = {"UTF-8", "UTF-16le", "UTF-16be"};
  static const char* vacuums[] = {"NONE", "FULL", "NONE", "INCREMENTAL"};
  std::vector<db_layout> out;
  int i = 0;
  for (int size = 512; size <= 65536; size *= 2, ++i)
    out.push_back({size, encodings[i % 3], (i % 2) * 32, vacuums[i % 4], false});
  out.push_back({512, "UTF-16le", 0, "NONE", false});
  return out;
}

}  // namespace

TEST(DeepDeleted, RecoversSurvivingDeletedRowsWithoutFalseRecords) {
  scratch_dir dir;
  recovery_score total;
  std::vector<std::pair<db_layout, bool>> runs;  // each layout with both draw orders
  for (const bool earlier_first : {false, true})
    for (const db_layout& layout : layouts()) runs.emplace_back(layout, earlier_first);
  for (const auto& [layout, earlier_first] : runs) {
    SCOPED_TRACE(std::to_string(layout.page_size) + " " + layout.encoding + " r" +
                 std::to_string(layout.reserve) + " " + layout.auto_vacuum + (earlier_first ? " (other draws)" : ""));
    const std::string db = dir.file("deleted.db");
    sqlite3* handle = open_layout_db(db, layout);
    ASSERT_NE(handle, nullptr);
    std::mt19937 rng(static_cast<unsigned>(layout.page_size));
    ground_truth truth;
    run_recorded(handle, history(layout, &rng, earlier_first), &truth);
    std::map<std::string, std::vector<std::string>> live;
    for (const char* table : {"sqlite_master", "contacts", "plain", "ambiguous", "keyed", "files", "words", "emptied",
                              "tagged", "sqlite_sequence"})
      live[table] = handle_lines(handle, table);
    std::set<std::string> indexes;
    for (const std::string& line : handle_lines(handle, "sqlite_master"))
      if (line.find("|T:index|T:") != std::string::npos) {
        const size_t at = line.find("|T:index|T:") + 11;
        indexes.insert(line.substr(at, line.find('|', at) - at));
      }
    sqlite3_close(handle);

    const run_result r = run_sarvek({"-i", db, "--deep"});
    ASSERT_EQ(r.status, 0);
    const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
    for (const auto& [table, lines] : live) EXPECT_EQ(deep_lines(rows, table), lines) << table;
    const std::vector<uint8_t> bytes = read_file(db);
    const recovery_score s = score_recovery(truth, live, rows, std::string(bytes.begin(), bytes.end()),
                                            layout_for_survival(layout));
    for (const std::string& line : s.false_lines) ADD_FAILURE() << "false record: " << line;
    for (const std::string& line : misplaced_rows(rows, db, static_cast<uint32_t>(layout.page_size),
                                                  layout.encoding == "UTF-8", indexes))
      ADD_FAILURE() << "misplaced: " << line;
    for (const std::string& line : s.missed_lines) std::printf("  missed %d: %s\n", layout.page_size, line.c_str());
    std::printf("%6d %-8s r%-2d %-11s: old %zu surviving %zu full %zu (of surviving %zu) partial %zu "
                "false %zu inferred %zu (false %zu) duplicates %zu no-table %zu\n",
                layout.page_size, layout.encoding.c_str(), layout.reserve, layout.auto_vacuum.c_str(),
                s.old_versions, s.surviving, s.full, s.full_of_surviving, s.partial, s.false_records,
                s.inferred, s.false_inferred, s.duplicates, s.without_table);
    total.old_versions += s.old_versions;
    total.surviving += s.surviving;
    total.full += s.full;
    total.full_of_surviving += s.full_of_surviving;
    total.partial += s.partial;
    total.false_records += s.false_records;
    total.inferred += s.inferred;
    total.false_inferred += s.false_inferred;
    total.duplicates += s.duplicates;
    total.without_table += s.without_table;
    total.false_without_table += s.false_without_table;
    total.index_entries += s.index_entries;
    total.false_entries += s.false_entries;
  }
  std::printf("all: surviving %zu, fully recovered %zu (%.1f%%), partly %zu, false %zu, inferred %zu (false %zu), "
              "duplicates %zu, without table %zu\n",
              total.surviving, total.full_of_surviving,
              100.0 * static_cast<double>(total.full_of_surviving) / static_cast<double>(std::max<size_t>(total.surviving, 1)),
              total.partial, total.false_records, total.inferred, total.false_inferred, total.duplicates,
              total.without_table);
  std::printf("index entries printed %zu, false or explained %zu\n", total.index_entries, total.false_entries);
  EXPECT_EQ(total.false_records, 0u);
  EXPECT_EQ(total.false_entries, 0u);
  EXPECT_EQ(total.false_without_table, 0u);
  EXPECT_GT(total.index_entries, 0u);
  EXPECT_EQ(total.duplicates, 0u);
  // These databases (both draw orders) give 99.3 %, and the bar stands
  // just under that so that a lost gain shows. What is missed: old versions
  // of rows without rowid whose cells the shorter new versions overwrote
  // (their chains are left, and the new cell repeats their first bytes, so
  // they count as surviving); one freed cell whose only boundary is an old
  // header whose recorded end dates from an earlier layout.
  EXPECT_GE(total.full_of_surviving * 1000, total.surviving * 990);
}

// Records of integers of every width, deleted in runs and one by one, some
// freed space taken again. A header read one byte off still parses: its
// types move one column on, a NULL or 0 comes first and the last type is
// read as data, and such a reading ends a few bytes short of the next
// cell. The table never held a NULL in `tiny` nor a `flag` other than 0 or
// 1, so a row printed with either was read off by one.
TEST(DeepDeleted, HeadersReadOneByteOffAreNotPrinted) {
  scratch_dir dir;
  size_t printed = 0;
  for (const db_layout& layout : layouts()) {
    SCOPED_TRACE(std::to_string(layout.page_size) + " " + layout.encoding);
    const std::string db = dir.file("measures.db");
    sqlite3* handle = open_layout_db(db, layout);
    ASSERT_NE(handle, nullptr);
    std::mt19937 rng(static_cast<unsigned>(layout.page_size));
    std::vector<std::string> sql = {
        "CREATE TABLE measures(id INTEGER PRIMARY KEY, tiny INTEGER, small INTEGER, medium INTEGER, "
        "large INTEGER, wide INTEGER, huge INTEGER, ratio REAL, flag INTEGER, mixed INTEGER)"};
    for (int i = 0; i < 90; ++i) {
      const long long v = rng();
      sql.push_back("INSERT INTO measures VALUES(" + std::to_string(5000 + i) + ", " + std::to_string(v % 128) +
                    ", " + std::to_string(v % 32768) + ", " + std::to_string(v % 8388608) + ", " +
                    std::to_string(v - 2147483648LL) + ", " + std::to_string(v * 65536 + i) + ", " +
                    std::to_string((i % 3 ? 1 : -1) * ((v % 2147483648LL) * 4294967296LL + i)) + ", " + std::to_string(v % 1000) + ".125, " +
                    std::to_string(i % 2) + ", " + std::to_string(v % 70000) + ")");
    }
    sql.push_back("DELETE FROM measures WHERE id % 9 IN (1, 2, 3, 4) OR id BETWEEN 5040 AND 5052");
    for (int i = 0; i < 6; ++i)
      sql.push_back("INSERT INTO measures VALUES(" + std::to_string(5100 + i) + ", 1, 2, 3, 4, 5, 6, 7.5, 0, 9)");
    ground_truth truth;
    run_recorded(handle, sql, &truth);
    sqlite3_close(handle);

    const run_result r = run_sarvek({"-i", db, "--deep", "--removed-only"});
    ASSERT_EQ(r.status, 0);
    for (const deep_csv_row& row : parse_deep_csv(r.out)) {
      if (row.table != "measures") continue;
      ++printed;
      ASSERT_EQ(row.values.size(), 10u);
      const std::string& tiny = row.values[1];
      const std::string& flag = row.values[8];
      EXPECT_NE(tiny, "NULL") << "page " << row.page << " offset " << row.offset;
      EXPECT_TRUE(flag.empty() || flag == "0" || flag == "1") << "page " << row.page << " offset " << row.offset;
    }
  }
  EXPECT_GT(printed, 250u);
}

// The recovery searches pages on two threads where two processors are free
// and prints them in page order: the output is the one-thread output.
TEST(DeepDeleted, TwoThreadsPrintWhatOnePrints) {
  if (run_program({"taskset", "-c", "0", "true"}).status != 0) GTEST_SKIP() << "no taskset";
  scratch_dir dir;
  const std::string db = dir.file("threads.db");
  sqlite3* handle = open_layout_db(db, {1024, "UTF-8", 0, "NONE", false});
  ASSERT_NE(handle, nullptr);
  std::mt19937 rng(7);
  ground_truth truth;
  run_recorded(handle, history({1024, "UTF-8", 0, "NONE", false}, &rng), &truth);
  sqlite3_close(handle);
  const run_result both = run_sarvek({"-i", db, "--deep"});
  const run_result one = run_program({"taskset", "-c", "0", sarvek_path(), "-i", db, "--deep"});
  ASSERT_EQ(both.status, 0);
  EXPECT_GT(parse_deep_csv(both.out).size(), 100u);
  EXPECT_EQ(both.out, one.out);
  EXPECT_EQ(both.err, one.err);
}

// Whole index pages freed (most rows of an indexed AUTOINCREMENT table
// deleted, indexed columns updated): their cells are entries of their
// indexes, printed under the index's name only when no live or printed row
// explains them, and never rows of a table (sqlite_sequence, whose columns
// have no types, least of all) nor records without a table.
TEST(DeepDeleted, IndexEntriesAreNeverRows) {
  scratch_dir dir;
  for (const db_layout& layout : {db_layout{1024, "UTF-8", 0, "NONE", false}, db_layout{512, "UTF-16le", 0, "NONE", false}}) {
    SCOPED_TRACE(std::to_string(layout.page_size) + " " + layout.encoding);
    const std::string db = dir.file("indexed.db");
    sqlite3* handle = open_layout_db(db, layout);
    ASSERT_NE(handle, nullptr);
    std::vector<std::string> sql = {
        "CREATE TABLE people(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, city TEXT, age INTEGER)",
        "CREATE INDEX people_city ON people(city, age)", "CREATE UNIQUE INDEX people_name ON people(name)",
        "CREATE INDEX people_old ON people(age) WHERE age > 50", "CREATE TABLE notes(a, b)",
        "CREATE INDEX notes_a ON notes(a)"};
    for (int i = 0; i < 300; ++i) {
      sql.push_back("INSERT INTO people(name, city, age) VALUES('person " + std::to_string(i) + std::string(i % 7, 'x') +
                    "', 'city" + std::to_string(i % 13) + "', " + std::to_string(20 + i % 60) + ")");
      sql.push_back("INSERT INTO notes VALUES(" + std::to_string(i * 3) + ", 'note " + std::to_string(i) + "')");
    }
    sql.push_back("DELETE FROM people WHERE id % 3 = 0");
    sql.push_back("UPDATE people SET city = city || '!' WHERE id % 5 = 0");
    sql.push_back("DELETE FROM notes WHERE rowid % 4 = 0");
    sql.push_back("DELETE FROM people WHERE id > 250");
    ground_truth truth;
    run_recorded(handle, sql, &truth);
    std::map<std::string, std::vector<std::string>> live;
    for (const char* table : {"sqlite_master", "people", "notes", "sqlite_sequence"}) live[table] = handle_lines(handle, table);
    sqlite3_close(handle);
    const run_result r = run_sarvek({"-i", db, "--deep"});
    ASSERT_EQ(r.status, 0);
    const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
    survival_layout s;
    s.usable = layout.page_size;
    s.encoding = layout.encoding;
    s.rowid_alias = {{"people", 0}};
    s.partial_by_design = {"sqlite_sequence"};
    s.indexes = {{"people_city", {"people", {2, 3}}}, {"people_name", {"people", {1}}},
                 {"people_old", {"people", {3}}}, {"notes_a", {"notes", {0}}}};
    const std::vector<uint8_t> bytes = read_file(db);
    const recovery_score score = score_recovery(truth, live, rows, std::string(bytes.begin(), bytes.end()), s);
    for (const std::string& line : score.false_lines) ADD_FAILURE() << line;
    EXPECT_EQ(score.without_table, 0u);
    EXPECT_GT(score.index_entries, 0u);
    EXPECT_GT(score.full, 100u);
  }
}

// In the 512-byte UTF-16 layout a later schema row cut the dropped table's
// statement after "CREATE TABLE doomed(id INTEGER PRIM": the table keeps its
// name, its rows on its old pages give the other columns (named by
// position), and `id`, which every row holds as NULL, is the rowid alias.
TEST(DeepDeleted, DroppedTableWithCutStatementKeepsItsRows) {
  scratch_dir dir;
  const db_layout layout = layouts().back();
  const std::string db = dir.file("cut.db");
  sqlite3* handle = open_layout_db(db, layout);
  ASSERT_NE(handle, nullptr);
  std::mt19937 rng(static_cast<unsigned>(layout.page_size));
  ground_truth truth;
  run_recorded(handle, history(layout, &rng), &truth);
  sqlite3_close(handle);
  const std::string out = dir.file("out");
  const run_result r = run_sarvek({"-i", db, "--deep", "--out-dir=" + out});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("sarvek: dropped table \"doomed\": the end of its CREATE statement was overwritten"),
            std::string::npos) << r.err;
  const std::vector<uint8_t> csv = read_file(out + "/doomed.csv");
  const std::string text(csv.begin(), csv.end());
  EXPECT_EQ(text.substr(0, text.find('\n')), "status,source,reading,page,offset,rowid,id,c2,c3");
  // Every version of the table, printed with its rowid as its id.
  for (const std::string& line : truth.versions["doomed"]) {
    const std::string id = line.substr(0, line.find('|'));
    EXPECT_NE(text.find("," + id + "," + id + ",\""), std::string::npos) << line;
  }
}

// Rows of a table without rowid whose notes overflow, deleted and updated
// one statement at a time: the freeblock header over each freed cell took
// its payload length and the key's serial type, and its local part is as
// long whatever the key's, so the key's size is read off the row's free
// overflow chain (inferred: a page taken after its freeing transaction holds
// zeros past the payload). A balance leaves copies of cells behind that
// share a chain: each row prints once, not again with its note left empty.
// The old versions whose cells the new ones overwrote are not in the file.
// With `reuse`, rows inserted after the deletions, with notes shorter or
// longer than the deleted rows', take their chains and are deleted too: a
// deleted row's cell then names a free chain that holds another row's note,
// which is not printed as its own.
TEST(DeepDeleted, OverflowingRowsWithoutRowidReadOffTheirChains) {
  struct case_t {
    db_layout layout;
    bool reuse;
  };
  const case_t cases[] = {{{512, "UTF-8", 0, "NONE", false}, false},
                          {{512, "UTF-16le", 0, "NONE", false}, false},
                          {{1024, "UTF-16be", 0, "NONE", false}, false},
                          {{512, "UTF-8", 0, "NONE", false}, true},
                          {{1024, "UTF-16le", 0, "NONE", false}, true}};
  scratch_dir dir;
  for (const case_t& c : cases) {
    SCOPED_TRACE(std::to_string(c.layout.page_size) + " " + c.layout.encoding + (c.reuse ? " reuse" : ""));
    const std::string db = dir.file(c.reuse ? "reuse.db" : "chains.db");
    sqlite3* handle = open_layout_db(db, c.layout);
    ASSERT_NE(handle, nullptr);
    std::mt19937 rng(static_cast<unsigned>(c.layout.page_size));
    const size_t note = static_cast<size_t>(c.layout.page_size / 4);
    const auto insert = [&](int n, size_t length) {
      return "INSERT INTO words VALUES(" + quoted("w" + std::to_string(n) + text_of(&rng, 1 + n % 7)) + ", " +
             std::to_string(n) + ", " + quoted(text_of(&rng, length)) + ")";
    };
    std::vector<std::string> sql = {"CREATE TABLE words(w TEXT PRIMARY KEY, n INT, note TEXT) WITHOUT ROWID"};
    for (int i = 0; i < 40; ++i) sql.push_back(insert(i, note + static_cast<size_t>(i)));
    sql.push_back("DELETE FROM words WHERE n % 3 = 0");
    sql.push_back("UPDATE words SET note = substr(note, 1, 10) WHERE n % 3 = 1");
    if (c.reuse) {
      for (int i = 0; i < 12; ++i) sql.push_back(insert(100 + i, i % 2 ? note - note / 4 : note + note / 2));
      sql.push_back("DELETE FROM words WHERE n >= 100");
    }
    ground_truth truth;
    run_recorded(handle, sql, &truth);
    std::map<std::string, std::vector<std::string>> live;
    for (const char* table : {"sqlite_master", "words"}) live[table] = handle_lines(handle, table);
    sqlite3_close(handle);

    const run_result r = run_sarvek({"-i", db, "--deep"});
    ASSERT_EQ(r.status, 0);
    const std::vector<deep_csv_row> rows = parse_deep_csv(r.out);
    survival_layout s;
    s.usable = c.layout.page_size;
    s.encoding = c.layout.encoding;
    s.without_rowid = {"words"};
    const std::vector<uint8_t> bytes = read_file(db);
    const recovery_score score = score_recovery(truth, live, rows, std::string(bytes.begin(), bytes.end()), s);
    for (const std::string& line : score.false_lines) ADD_FAILURE() << "false record: " << line;
    EXPECT_EQ(score.false_records + score.false_inferred + score.duplicates, 0u);
    if (c.reuse) continue;
    EXPECT_GE(score.full_of_surviving + 2, score.surviving);
    std::set<std::string> whole_keys;
    for (const deep_csv_row& row : rows)
      if (row.status != "live" && row.values.size() == 3 && !row.values[2].empty()) whole_keys.insert(row.values[0]);
    for (const deep_csv_row& row : rows) {
      if (row.status == "live" || row.values.size() != 3 || !row.values[2].empty()) continue;
      EXPECT_EQ(whole_keys.count(row.values[0]), 0u) << "copy with its note left empty: " << row.values[0];
    }
  }
}
