// --format=jsonl and the decoded times: every line parses (here and with
// Python's json module), holds the CSV stream's rows with their types, and
// time columns are decoded for each epoch but not for lookalikes.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

using json = nlohmann::json;

std::vector<json> parse_lines(const std::string& out) {
  std::vector<json> lines;
  size_t at = 0;
  while (at < out.size()) {
    const size_t end = out.find('\n', at);
    lines.push_back(json::parse(out.substr(at, end - at)));
    at = end + 1;
  }
  return lines;
}

std::string hex_of(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) out += std::string{digits[c >> 4], digits[c & 15]};
  return out;
}

std::string from_base64(const std::string& text) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(c));
    if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return out;
}

// A JSON value in the CSV's canonical form; a string in a column of
// integers beyond 2^53 (or of non-finite reals) reads back as its number.
std::string canonical_json(const json& v, const std::string& column) {
  if (v.is_null()) return "NULL";
  if (v.is_number_integer()) return "I:" + std::to_string(v.get<int64_t>());
  if (v.is_number_float()) {
    char text[40];
    snprintf(text, sizeof text, "R:%.17g", v.get<double>());
    return text;
  }
  if (v.is_object()) return "B:" + hex_of(from_base64(v.at("base64").get<std::string>()));
  const std::string s = v.get<std::string>();
  if (column == "big") return "I:" + s;
  if (column == "r" && (s == "Inf" || s == "-Inf")) return s == "Inf" ? "R:inf" : "R:-inf";
  return "T:" + s;
}

}  // namespace

TEST(DeepJsonl, LinesHoldTheRowsWithTheirTypes) {
  scratch_dir dir;
  const std::string db = dir.file("j.db");
  sqlite3* h = open_layout_db(db, {});
  run_sql(h, "CREATE TABLE v(id INTEGER PRIMARY KEY, big, r REAL, t TEXT, b BLOB, n)");
  // Not UTF-8: the JSON keeps its bytes (the CSV shows U+FFFD for them).
  const std::string invalid_utf8 = "bad \xFF\xFE end \xC3\xA9 \xE2\x82";
  const std::vector<std::vector<bound_value>> rows = {
      {bind_int(9007199254740993), bind_real(0.1), bind_text("quote \" back \\ tab \t nl \n ctl \x01 é 🦊"),
       bind_blob(std::string("\x00\xFF\x10", 3)), bind_null()},
      {bind_int(-9223372036854775807 - 1), bind_real(1e300), bind_text(""), bind_blob(""), bind_int(7)},
      {bind_int(9007199254740992), bind_real(HUGE_VAL), bind_text(std::string("nul\0inside", 10)),
       bind_blob(std::string(300, 'z')), bind_real(2.0)},
      {bind_int(-5), bind_real(-HUGE_VAL), bind_text("x"), bind_null(), bind_real(-0.5)},
      {bind_int(1), bind_real(-1.5), bind_text(invalid_utf8), bind_null(), bind_null()}};
  for (int k = 0; k < 40; ++k)
    for (const auto& row : rows) insert_row(h, "INSERT INTO v(big, r, t, b, n) VALUES(?,?,?,?,?)", row);
  run_sql(h, "DELETE FROM v WHERE id % 7 = 0");
  sqlite3_close(h);

  const run_result csv = run_sarvek({"-i", db, "--deep"});
  const run_result jsonl = run_sarvek({"-i", db, "--deep", "--format=jsonl"});
  ASSERT_EQ(jsonl.status, 0) << jsonl.err;
  // Python's json module reads every line.
  write_file(dir.file("out.jsonl"), jsonl.out);
  const run_result python = run_program(
      {"python3", "-c", "import json,sys\nn=0\nfor l in open(sys.argv[1],encoding='utf-8'): json.loads(l); n+=1\nprint(n)",
       dir.file("out.jsonl")});
  const std::vector<deep_csv_row> expected = parse_deep_csv(csv.out);
  EXPECT_EQ(python.out, std::to_string(expected.size()) + "\n") << python.err;
  const std::vector<json> lines = parse_lines(jsonl.out);
  ASSERT_EQ(lines.size(), expected.size());
  size_t deleted = 0, not_utf8 = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const json& line = lines[i];
    const deep_csv_row& row = expected[i];
    EXPECT_EQ(line.at("table").is_null() ? std::string() : line.at("table").get<std::string>(), row.table);
    EXPECT_EQ(line.at("status"), row.status);
    EXPECT_EQ(line.at("source"), row.source);
    EXPECT_EQ(line.at("page"), row.page);
    EXPECT_EQ(line.at("offset"), row.offset);
    EXPECT_EQ(line.at("rowid").is_null() ? std::string() : std::to_string(line.at("rowid").get<int64_t>()), row.rowid);
    if (row.table != "v") continue;
    deleted += row.status == "deleted";
    const std::vector<std::string> names = {"id", "big", "r", "t", "b", "n"};
    std::set<std::string> unrecovered(line.at("unrecovered").begin(), line.at("unrecovered").end());
    for (size_t c = 0; c < names.size(); ++c) {
      const std::string want = canonical_field(row.values.at(c));
      if (want == "U:") {
        EXPECT_TRUE(unrecovered.count(names[c])) << names[c];
        EXPECT_FALSE(line.at("values").contains(names[c]));
      } else if (line.at("values").at(names[c]).is_object() && line.at("values").at(names[c]).at("type") == "text") {
        EXPECT_EQ(from_base64(line.at("values").at(names[c]).at("base64")), invalid_utf8);
        ++not_utf8;
      } else {
        EXPECT_EQ(canonical_json(line.at("values").at(names[c]), names[c]), want) << i << " " << names[c];
      }
    }
  }
  EXPECT_GT(deleted, 1u);
  EXPECT_GE(not_utf8, 30u);
  // With --out-dir: each table's lines in DIR/<table>.jsonl, as on standard output.
  const run_result files = run_sarvek({"-i", db, "--deep", "--format=jsonl", "--out-dir=" + dir.file("out")});
  ASSERT_EQ(files.status, 0) << files.err;
  std::map<std::string, std::string> by_table;
  for (size_t at = 0; at < jsonl.out.size();) {
    const size_t end = jsonl.out.find('\n', at) + 1;
    const json line = json::parse(jsonl.out.substr(at, end - at));
    by_table[line.at("table").is_null() ? "lost_and_found" : line.at("table").get<std::string>()] +=
        jsonl.out.substr(at, end - at);
    at = end;
  }
  for (const auto& [table, text] : by_table) {
    const std::vector<uint8_t> bytes = read_file(dir.file("out/" + table + ".jsonl"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text) << table;
  }
  EXPECT_EQ(read_file(dir.file("out/tables.csv")).size(), std::string("table,file\n\"sqlite_master\",sqlite_master.jsonl\n\"v\",v.jsonl\n,lost_and_found.jsonl\n").size());
}

// Blobs of every length from 0 to 40 (each remainder of the groups of
// three, six and twelve bytes that base64 takes at once) and texts of 40
// to 48 bytes with a byte to escape at each of the first 41 positions
// (every place in the blocks of 8 and 16 bytes that are checked at once)
// read back as they were stored, under a column whose name needs escapes
// itself.
TEST(DeepJsonl, BlobsAndTextsOfEveryShortLengthReadBackExactly) {
  scratch_dir dir;
  const std::string db = dir.file("s.db");
  sqlite3* h = open_layout_db(db, {});
  run_sql(h, "CREATE TABLE s(id INTEGER PRIMARY KEY, b BLOB, \"t \"\"x\"\"\\\" TEXT)");
  const std::string escapes = std::string("\"\\\n\r\t\x01\x1f", 7) + std::string(1, '\0');
  std::map<int64_t, std::pair<std::string, std::string>> stored;  // rowid -> blob, text
  for (int n = 0; n <= 40; ++n) {
    std::string blob, text;
    for (int i = 0; i < n; ++i) blob += static_cast<char>((n * 37 + i * 101) & 0xFF);
    for (int i = 0; i < 40 + n % 9; ++i) text += static_cast<char>(i == n ? escapes[n % escapes.size()] : 'a' + i % 26);
    if (n % 5 == 0) text += "\xC3\xA9\xF0\x9F\xA6\x8A";
    insert_row(h, "INSERT INTO s VALUES(?,?,?)", {bind_int(n + 1), bind_blob(blob), bind_text(text)});
    stored[n + 1] = {blob, text};
  }
  sqlite3_close(h);
  const run_result r = run_sarvek({"-i", db, "--deep", "--format=jsonl", "--table=s"});
  ASSERT_EQ(r.status, 0) << r.err;
  size_t seen = 0;
  for (const json& line : parse_lines(r.out)) {
    const auto& [blob, text] = stored.at(line.at("rowid").get<int64_t>());
    EXPECT_EQ(from_base64(line.at("values").at("b").at("base64").get<std::string>()), blob);
    EXPECT_EQ(line.at("values").at("b").at("size"), blob.size());
    EXPECT_EQ(line.at("values").at("t \"x\"\\").get<std::string>(), text);
    ++seen;
  }
  EXPECT_EQ(seen, stored.size());
}

namespace {

// One text from the library for each SQL expression, in order.
std::vector<std::string> library_texts(sqlite3* h, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(h, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
  std::vector<std::string> out;
  if (stmt && sqlite3_step(stmt) == SQLITE_ROW)
    for (int i = 0; i < sqlite3_column_count(stmt); ++i)
      out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
  sqlite3_finalize(stmt);
  return out;
}

}  // namespace

// A column of each epoch, named as times are, holds the same instants: each
// is decoded, and its text is the library's own strftime of the instant.
// Lookalikes are not: ids, sizes and phone numbers (names that suggest no
// time), and time-like names whose values fit no epoch or more than one.
TEST(DeepJsonl, TimesAreDecodedForEachEpochAndNotForLookalikes) {
  scratch_dir dir;
  const std::string db = dir.file("t.db");
  sqlite3* h = open_layout_db(db, {});
  run_sql(h,
          "CREATE TABLE ev(id INTEGER PRIMARY KEY, created_at INTEGER, modified INTEGER, updated_us INTEGER,"
          " seen_ns INTEGER, date_cocoa INTEGER, timestamp_ns INTEGER, last_visit_time INTEGER,"
          " filetime_stamp INTEGER, julian_date REAL, file_size INTEGER, phone INTEGER, sent_count INTEGER,"
          " updated INTEGER, endTime INTEGER, start_label TEXT)");
  std::map<std::string, std::vector<std::string>> expected;  // column -> utc by row
  const std::vector<std::string> decoded = {"created_at", "modified", "updated_us", "seen_ns", "date_cocoa",
                                            "timestamp_ns", "last_visit_time", "filetime_stamp", "julian_date"};
  for (int k = 0; k < 25; ++k) {
    const int64_t s = 1500000000 + int64_t{k} * 86399 * 13;  // 2017 to 2018
    const std::string S = std::to_string(s);
    const std::string sql =
        "INSERT INTO ev VALUES(NULL," + S + "," + S + "123," + S + "123456," + S + "123456789," +
        std::to_string(s - 978307200) + "," + std::to_string(s - 978307200) + "987654321," +
        std::to_string(s + 11644473600) + "000001," + std::to_string(s + 11644473600) + "0000007," +
        "(" + S + " / 86400.0 + 2440587.5)," + S + ",15551234567," + std::to_string(k) + "," +
        (k % 2 ? "4000000000" : S) + "," + std::to_string(1000000 + k) + ",'start " + S + "')";
    run_sql(h, sql);
    const std::string at = "strftime('%Y-%m-%dT%H:%M:%S'," + S + ",'unixepoch')";
    const std::vector<std::string> t = library_texts(
        h, "SELECT " + at + " || 'Z', " + at + " || '.123Z', " + at + " || '.123456Z', " + at + " || '.123456789Z', " +
               at + " || 'Z', " + at + " || '.987654321Z', " + at + " || '.000001Z', " + at + " || '.0000007Z'," +
               " strftime('%Y-%m-%dT%H:%M:%fZ', " + S + " / 86400.0 + 2440587.5)");
    for (size_t c = 0; c < decoded.size(); ++c) expected[decoded[c]].push_back(t.at(c));
  }
  sqlite3_close(h);

  const std::string out = dir.file("out.db");
  const run_result r = run_sarvek({"-i", db, "--deep", "--format=jsonl", "--table=ev", "--export=" + out});
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::vector<std::string>> found;
  std::map<std::string, std::string> epochs;
  for (const json& line : parse_lines(r.out))
    for (const auto& [column, time] : line.at("times").items()) {
      found[column].push_back(time.at("utc"));
      epochs[column] = time.at("epoch");
    }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(epochs, (std::map<std::string, std::string>{
                        {"created_at", "unix seconds"}, {"modified", "unix milliseconds"},
                        {"updated_us", "unix microseconds"}, {"seen_ns", "unix nanoseconds"},
                        {"date_cocoa", "seconds since 2001"}, {"timestamp_ns", "nanoseconds since 2001"},
                        {"last_visit_time", "webkit microseconds"}, {"filetime_stamp", "windows filetime"},
                        {"julian_date", "julian day"}}));
  // The export's view: the same texts, a column beside each time column.
  std::string select;
  for (const std::string& c : decoded) select += std::string(select.empty() ? "" : ",") + c + "_utc";
  const run_result view = run_program({"sqlite3", out, "SELECT " + select + " FROM ev_times"});
  std::string want;
  for (size_t k = 0; k < expected["created_at"].size(); ++k)
    for (size_t c = 0; c < decoded.size(); ++c) want += expected[decoded[c]][k] + (c + 1 < decoded.size() ? "|" : "\n");
  EXPECT_EQ(view.out, want) << view.err;
  const run_result columns =
      run_program({"sqlite3", out, "SELECT group_concat(name, ' ') FROM pragma_table_info('ev_times')"});
  EXPECT_NE(columns.out.find("created_at created_at_utc modified modified_utc"), std::string::npos);
  EXPECT_EQ(columns.out.find("file_size_utc"), std::string::npos) << columns.out;
  EXPECT_EQ(columns.out.find("updated_utc"), std::string::npos) << columns.out;
  // --no-times: neither.
  const std::string plain = dir.file("plain.db");
  const run_result off = run_sarvek({"-i", db, "--deep", "--format=jsonl", "--no-times", "--export=" + plain});
  EXPECT_EQ(off.out.find("\"times\""), std::string::npos);
  EXPECT_EQ(run_program({"sqlite3", plain, "SELECT count(*) FROM sqlite_master WHERE type = 'view'"}).out, "0\n");
}
