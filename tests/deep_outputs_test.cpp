// The deep mode's outputs for an examiner: --table=, --out-dir= (one CSV
// file per table, names made safe), the summary on standard error and in
// the export, --quiet.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

// Table names an attacker could choose: path separators, a device name, 300
// characters, non-ASCII, names alike once cleaned, and one the output
// folder keeps for itself.
const std::vector<std::string> hostile_names = {
    "../x", "con", std::string(300, 'L'), "\xE6\x97\xA5\xE6\x9C\xAC", "\xE4\xB8\xAD\xE5\x9B\xBD",
    "a b", "a.b", "A_B", "tables", "lost_and_found", "plain"};

std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// A database with one table of each hostile name, live and deleted rows,
// texts with commas, quotes and line breaks.
std::string make_hostile_db(const scratch_dir& dir) {
  std::string sql;
  for (const std::string& name : hostile_names) {
    const std::string t = quoted(name);
    sql += "CREATE TABLE " + t + "(id INTEGER PRIMARY KEY, \"text, \"\"quoted\"\"\" TEXT, n REAL);";
    for (int i = 1; i <= 30; ++i)
      sql += "INSERT INTO " + t + " VALUES(" + std::to_string(i) + ", 'line " + std::to_string(i) +
             ",\n\"two\"', " + std::to_string(i) + ".25);";
    sql += "DELETE FROM " + t + " WHERE id % 4 = 0;";
  }
  const std::string db = dir.file("hostile.db");
  make_db(db, sql, 1024);
  return db;
}

// The records of CSV text, each with its line feed, split where a line
// feed lies outside double quotes.
std::vector<std::string> records(const std::string& text) {
  std::vector<std::string> out;
  bool quoted_part = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted_part = !quoted_part;
    if (text[i] == '\n' && !quoted_part) {
      out.push_back(text.substr(start, i + 1 - start));
      start = i + 1;
    }
  }
  return out;
}

std::string read_text(const std::string& path) {
  const std::vector<uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// tables.csv: table name -> file name ("" for records of no table).
std::map<std::string, std::string> read_map(const std::string& dir) {
  std::map<std::string, std::string> map;
  std::vector<std::string> lines = records(read_text(dir + "/tables.csv"));
  EXPECT_EQ(lines.at(0), "table,file\n");
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t comma = line.rfind(',');
    std::string name;
    for (size_t k = 1; k + 1 < comma; ++k) {
      name += line[k];
      if (line[k] == '"') ++k;
    }
    map[name] = line.substr(comma + 1, line.size() - comma - 2);
  }
  return map;
}

}  // namespace

TEST(DeepOutputs, OutDirHoldsEachTablesRowsUnderSafeUniqueNames) {
  scratch_dir dir;
  const std::string db = make_hostile_db(dir);
  const run_result stream = run_sarvek({"-i", db, "--deep"});
  ASSERT_EQ(stream.status, 0) << stream.err;
  const std::string out = dir.file("out");
  const run_result files = run_sarvek({"-i", db, "--deep", "--out-dir=" + out});
  ASSERT_EQ(files.status, 0) << files.err;
  EXPECT_EQ(files.out, "");

  const std::map<std::string, std::string> map = read_map(out);
  ASSERT_EQ(map.size(), hostile_names.size() + 2);  // with sqlite_master and lost_and_found
  EXPECT_EQ(map.at(""), "lost_and_found.csv");
  std::set<std::string> folded;
  for (const auto& [table, file] : map) {
    const std::string stem = file.substr(0, file.size() - 4);
    EXPECT_TRUE(file.ends_with(".csv") && !stem.empty() && stem.size() <= 64 &&
                stem.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") ==
                    std::string::npos)
        << file;
    std::string f = file;
    std::transform(f.begin(), f.end(), f.begin(), ::tolower);
    EXPECT_TRUE(folded.insert(f).second) << file;
    EXPECT_NE(f, "con.csv");
    struct stat st{};
    ASSERT_EQ(lstat((out + "/" + file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    if (table.empty()) continue;
    // The file: the header, then the stream's rows of the table with the
    // table's field left out.
    std::string expected = table == "sqlite_master" ? "status,source,reading,page,offset,rowid,type,name,tbl_name,rootpage,sql\n"
                                                    : "status,source,reading,page,offset,rowid,id,\"text, \"\"quoted\"\"\",n\n";
    const std::string prefix = quoted(table) + ",";
    size_t rows = 0;
    for (const std::string& record : records(stream.out))
      if (record.starts_with(prefix)) {
        expected += record.substr(prefix.size());
        ++rows;
      }
    EXPECT_GT(rows, 3u) << table;
    EXPECT_EQ(read_text(out + "/" + file), expected) << table;
  }
  // Nothing else in the folder, nothing outside it.
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) entries += entry.is_regular_file();
  EXPECT_EQ(entries, map.size() + 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.csv")));
}

TEST(DeepOutputs, OutDirRefusesAFolderThatIsNotEmptyAndKeepsItsFiles) {
  scratch_dir dir;
  const std::string db = dir.file("t.db");
  make_db(db, "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  std::filesystem::create_directory(dir.file("full"));
  write_file(dir.file("full/t.csv"), std::string("keep"));
  const run_result r = run_sarvek({"-i", db, "--deep", "--out-dir=" + dir.file("full")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Output folder"), std::string::npos) << r.err;
  EXPECT_EQ(read_text(dir.file("full/t.csv")), "keep");
  std::filesystem::create_symlink(dir.file("full"), dir.file("link"));
  EXPECT_EQ(run_sarvek({"-i", db, "--deep", "--out-dir=" + dir.file("link")}).status, 1);
  std::filesystem::create_directory(dir.file("empty"));
  EXPECT_EQ(run_sarvek({"-i", db, "--deep", "--out-dir=" + dir.file("empty")}).status, 0);
  // A run refused after it made the folder (an export, a workbook or a log
  // that cannot be had) leaves no folder behind; one that was there stays.
  write_file(dir.file("taken.sqlite"), std::string("x"));
  write_file(dir.file("taken.xlsx"), std::string("x"));
  std::filesystem::create_directory(dir.file("kept"));
  for (const std::string& option : {"--export=" + dir.file("taken.sqlite"), "--xlsx=" + dir.file("taken.xlsx"),
                                    "--wal=" + dir.file("missing-wal")}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(run_sarvek({"-i", db, "--deep", "--out-dir=" + dir.file("new"), option}).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new")));
    EXPECT_EQ(run_sarvek({"-i", db, "--deep", "--out-dir=" + dir.file("kept"), option}).status, 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("kept")));
  }
}

// --table= keeps the named tables' rows (names compared as the library
// compares them), the summary counts what was printed, the export records
// it, and --quiet leaves standard error empty.
TEST(DeepOutputs, TableFilterSummaryAndQuiet) {
  scratch_dir dir;
  const std::string db = make_hostile_db(dir);
  const std::vector<deep_csv_row> all = parse_deep_csv(run_sarvek({"-i", db, "--deep"}).out);
  const std::string exported = dir.file("e.db");
  const run_result some = run_sarvek({"-i", db, "--deep", "--table=PLAIN", "--table=../X", "--table=nosuch",
                                      "--export=" + exported});
  ASSERT_EQ(some.status, 0) << some.err;
  std::vector<std::string> expected_lines, lines;
  std::map<std::string, std::map<std::string, int>> counts;
  for (const deep_csv_row& row : all)
    if (row.table == "plain" || row.table == "../x") {
      expected_lines.push_back(row.table + "|" + row.status + "|" + std::to_string(row.offset));
      counts[row.table][row.status] += 1;
    }
  for (const deep_csv_row& row : parse_deep_csv(some.out))
    lines.push_back(row.table + "|" + row.status + "|" + std::to_string(row.offset));
  EXPECT_EQ(lines, expected_lines);
  std::string summary;
  for (const std::string table : {"../x", "plain"})
    summary += "sarvek: " + table + ": " + std::to_string(counts[table]["live"]) + " live, " +
               std::to_string(counts[table]["deleted"]) + " deleted\n";
  EXPECT_NE(some.err.find("sarvek: no table named 'nosuch'; the tables are: 'sqlite_master', '../x', 'con'"),
            std::string::npos) << some.err;
  EXPECT_TRUE(some.err.ends_with(summary)) << some.err;
  const run_result recorded = run_program(
      {"sqlite3", exported, "SELECT \"table\", status, sum(rows) FROM sarvek_summary GROUP BY 1, 2 ORDER BY 1, 2"});
  EXPECT_EQ(recorded.out, "../x|deleted|" + std::to_string(counts["../x"]["deleted"]) + "\n../x|live|" +
                              std::to_string(counts["../x"]["live"]) + "\nplain|deleted|" +
                              std::to_string(counts["plain"]["deleted"]) + "\nplain|live|" +
                              std::to_string(counts["plain"]["live"]) + "\n");
  // An index's name is known: no note.
  exec_db(db, "CREATE INDEX plain_n ON plain(n)");
  const run_result index = run_sarvek({"-i", db, "--deep", "--table=plain", "--table=PLAIN_N"});
  EXPECT_EQ(index.err.find("no table named"), std::string::npos) << index.err;
  const run_result quiet = run_sarvek({"-i", db, "--deep", "--quiet", "--table=plain"});
  EXPECT_EQ(quiet.err, "");
  std::string plain;
  for (const std::string& record : records(some.out))
    if (record.starts_with("\"plain\",")) plain += record;
  EXPECT_EQ(quiet.out, plain);
}

// --quiet leaves standard error empty, and the export keeps the notes it
// did not write.
TEST(DeepOutputs, QuietKeepsTheNotesInTheExport) {
  scratch_dir dir;
  const std::string db = dir.file("cut.db");
  std::string sql = "CREATE TABLE a(id INTEGER PRIMARY KEY, t TEXT);";
  for (int i = 0; i < 300; ++i) sql += "INSERT INTO a(t) VALUES('row " + std::to_string(i) + std::string(40, 'x') + "');";
  make_db(db, sql, 1024);
  std::vector<uint8_t> bytes = read_file(db);
  bytes.resize(bytes.size() / 2);  // the tree's later leaves are gone
  write_file(db, bytes);
  const run_result loud = run_sarvek({"-i", db, "--deep"});
  const std::vector<std::string> notes = note_lines(loud.err);
  ASSERT_FALSE(notes.empty()) << loud.err;
  const run_result quiet = run_sarvek({"-i", db, "--deep", "--quiet", "--export=" + dir.file("e.db")});
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, loud.out);
  std::string expected;
  for (const std::string& line : notes) expected += line.substr(std::string("sarvek: ").size()) + "\n";
  EXPECT_EQ(run_program({"sqlite3", dir.file("e.db"), "SELECT note FROM sarvek_notes ORDER BY rowid"}).out, expected);
}
