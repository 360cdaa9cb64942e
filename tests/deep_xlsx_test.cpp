// --xlsx=: the workbook read back (its sheet XML, through Python's zipfile)
// holds the CSV stream's rows with their types, under valid and unique
// sheet names; long texts are cut with a marker and kept whole in a file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

// Prints each sheet as "SHEET name" then one line per row, cells separated
// by tabs: n:<number>, s:<text> (tabs and line feeds escaped), or empty.
const char* const reader = R"(
import re, sys, zipfile, xml.etree.ElementTree as ET
ns = {'m': 'http://schemas.openxmlformats.org/spreadsheetml/2006/main',
      'r': 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'}
z = zipfile.ZipFile(sys.argv[1])
rels = {r.get('Id'): r.get('Target') for r in ET.fromstring(z.read('xl/_rels/workbook.xml.rels'))}
def col(ref):
    n = 0
    for ch in re.match('[A-Z]+', ref).group(0): n = n * 26 + ord(ch) - 64
    return n - 1
def text(s):
    s = re.sub('_x([0-9A-F]{4})_', lambda m: chr(int(m.group(1), 16)), s)
    return s.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n')
out = []
for sheet in ET.fromstring(z.read('xl/workbook.xml')).find('m:sheets', ns):
    out.append('SHEET ' + sheet.get('name'))
    root = ET.fromstring(z.read('xl/' + rels[sheet.get('{%s}id' % ns['r'])]))
    for row in root.find('m:sheetData', ns):
        cells = {}
        for c in row:
            if c.get('t') == 'inlineStr':
                cells[col(c.get('r'))] = 's:' + text(''.join(c.find('m:is', ns).itertext()))
            else:
                cells[col(c.get('r'))] = 'n:' + c.find('m:v', ns).text
        out.append('\t'.join(cells.get(i, '') for i in range(max(cells) + 1 if cells else 0)))
sys.stdout.write('\n'.join(out) + '\n')
)";

std::map<std::string, std::vector<std::vector<std::string>>> read_workbook(const std::string& path) {
  const run_result r = run_program({"python3", "-c", reader, path});
  EXPECT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::vector<std::vector<std::string>>> sheets;
  std::vector<std::vector<std::string>>* current = nullptr;
  size_t at = 0;
  while (at < r.out.size()) {
    const size_t end = r.out.find('\n', at);
    const std::string line = r.out.substr(at, end - at);
    at = end + 1;
    if (line.starts_with("SHEET ")) {
      current = &sheets[line.substr(6)];
      continue;
    }
    std::vector<std::string> cells;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      cells.push_back(line.substr(from, tab - from));
    cells.push_back(line.substr(from));
    if (current) current->push_back(cells);
  }
  return sheets;
}

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

// A CSV field as the workbook's cell: numbers as numbers, texts and blobs
// as texts, NULL and values not recovered empty.
std::string cell_of(const std::string& field) {
  const std::string canonical = canonical_field(field);
  if (canonical == "NULL" || canonical == "U:") return "";
  if (canonical.starts_with("I:")) {
    const long long v = std::stoll(canonical.substr(2));
    return std::llabs(v) <= (1LL << 53) ? "n:" + canonical.substr(2) : "s:" + canonical.substr(2);
  }
  if (canonical == "R:inf" || canonical == "R:-inf") return canonical == "R:inf" ? "s:Inf" : "s:-Inf";
  if (canonical.starts_with("R:")) return "n:" + canonical.substr(2);
  if (canonical.starts_with("T:")) return "s:" + escaped(canonical.substr(2));
  return "s:" + field;  // a blob as printed
}

// Numbers compare as doubles: a spreadsheet keeps 15 to 17 digits.
bool same_cell(const std::string& got, const std::string& want) {
  if (got.starts_with("n:") && want.starts_with("n:")) {
    const double a = std::stod(got.substr(2)), b = std::stod(want.substr(2));
    return a == b || std::fabs(a - b) <= 1e-15 * std::fabs(b);
  }
  return got == want;
}

}  // namespace

TEST(DeepXlsx, SheetsHoldTheRowsWithTheirTypesUnderValidUniqueNames) {
  scratch_dir dir;
  const std::string db = dir.file("x.db");
  sqlite3* h = open_layout_db(db, {});
  const std::vector<std::string> names = {"a/b", "a\\b", "a:b", "q?[x]*", std::string(300, 'N') + "1",
                                          std::string(300, 'N') + "2", "summary", "HISTORY", "'quoted'", "日本語"};
  for (const std::string& name : names) {
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    q += "\"";
    run_sql(h, "CREATE TABLE " + q + "(id INTEGER PRIMARY KEY, i, r, t, b)");
    insert_row(h, "INSERT INTO " + q + "(i, r, t, b) VALUES(?,?,?,?)",
               {bind_int(9007199254740993), bind_real(0.1), bind_text("=1+1"), bind_blob("\x01\x02")});
    insert_row(h, "INSERT INTO " + q + "(i, r, t, b) VALUES(?,?,?,?)",
               {bind_int(-42), bind_real(1.0 / 3), bind_text("tab\tline\nend <&> \x01"), bind_null()});
    insert_row(h, "INSERT INTO " + q + "(i, r, t, b) VALUES(?,?,?,?)",
               {bind_null(), bind_real(HUGE_VAL), bind_text(std::string(40000, 'L') + "end"), bind_blob("")});
  }
  run_sql(h, "DELETE FROM \"a/b\" WHERE id = 2");
  sqlite3_close(h);

  const std::string work = dir.file("work");
  mkdir(work.c_str(), 0700);
  const run_result csv = run_sarvek({"-i", db, "--deep"});
  const run_result r = run_sarvek({"-i", db, "--deep", "--xlsx=" + dir.file("w.xlsx")}, {work});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, csv.out);
  struct stat st{};
  ASSERT_EQ(stat(dir.file("w.xlsx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const auto sheets = read_workbook(dir.file("w.xlsx"));

  // Sheet names: valid, unique without regard to case; the summary maps
  // each table to its sheet.
  std::set<std::string> folded;
  for (const auto& [name, rows] : sheets) {
    EXPECT_LE(name.size(), 31u * 3);
    EXPECT_EQ(name.find_first_of("[]:*?/\\"), std::string::npos) << name;
    EXPECT_NE(name.front(), '\'');
    std::string f = name;
    for (char& c : f) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(folded.insert(f).second) << name;
  }
  std::map<std::string, std::string> sheet_of;
  const auto& summary = sheets.at("summary");
  EXPECT_EQ(summary.at(0), (std::vector<std::string>{"s:table", "s:sheet", "s:status", "s:source", "s:rows"}));
  for (size_t i = 1; i < summary.size(); ++i) {
    std::string table;  // the reader's escapes undone
    const std::string cell = summary[i].at(0).substr(2);
    for (size_t k = 0; k < cell.size(); ++k) table += cell[k] == '\\' ? cell[++k] : cell[k];
    sheet_of[table] = summary[i].at(1).substr(2);
  }
  EXPECT_EQ(sheet_of.size(), names.size() + 1);
  EXPECT_EQ(sheet_of.at(std::string(300, 'N') + "1"), std::string(31, 'N'));
  EXPECT_EQ(sheet_of.at(std::string(300, 'N') + "2"), std::string(29, 'N') + "_2");
  EXPECT_EQ(sheet_of.at("summary"), "summary_2");
  EXPECT_EQ(sheet_of.at("HISTORY"), "HISTORY_2");

  // Each table's sheet: the header, then the stream's rows, cell by cell.
  std::map<std::string, std::vector<std::vector<std::string>>> expected;
  for (const deep_csv_row& row : parse_deep_csv(csv.out)) {
    std::vector<std::string>& cells = expected[row.table].emplace_back();
    cells = {"s:" + row.status, "s:" + row.source, "s:" + row.reading, "n:" + std::to_string(row.page),
             "n:" + std::to_string(row.offset), row.rowid.empty() ? "" : "n:" + row.rowid, ""};
    const std::vector<std::string> columns = {"id", "i", "r", "t", "b"};
    for (size_t c = 0; c < row.values.size(); ++c) {
      cells.push_back(cell_of(row.values[c]));
      if (canonical_field(row.values[c]) == "U:")
        cells[6] += (cells[6].empty() ? "s:" : ",") + columns.at(c);  // the unrecovered column
    }
    while (!cells.empty() && cells.back().empty()) cells.pop_back();
  }
  size_t cut = 0;
  for (const auto& [table, rows] : expected) {
    ASSERT_TRUE(sheet_of.count(table)) << "no sheet for '" << table.substr(0, 40) << "'";
    const auto& got = sheets.at(sheet_of.at(table));
    ASSERT_EQ(got.size(), rows.size() + 1) << table;
    if (table != "sqlite_master") {
      EXPECT_EQ(got[0], (std::vector<std::string>{"s:status", "s:source", "s:reading", "s:page", "s:offset", "s:rowid",
                                                  "s:unrecovered", "s:id", "s:i", "s:r", "s:t", "s:b"}));
    }
    for (size_t k = 0; k < rows.size(); ++k) {
      ASSERT_EQ(got[k + 1].size(), rows[k].size()) << table << " row " << k;
      for (size_t c = 0; c < rows[k].size(); ++c) {
        const std::string& cell = got[k + 1][c];
        if (rows[k][c].size() > 32767 && cell.find("\xE2\x80\xA6[cut: whole value in ") != std::string::npos) {
          // Cut: 32,767 characters in all, the file holds the whole text.
          EXPECT_EQ(cell.substr(0, 100), rows[k][c].substr(0, 100));
          const std::string file = cell.substr(cell.rfind(' ') + 1, cell.size() - cell.rfind(' ') - 2);
          const std::vector<uint8_t> whole = read_file(work + "/" + file);
          EXPECT_EQ("s:" + std::string(whole.begin(), whole.end()), rows[k][c]);
          ++cut;
          continue;
        }
        EXPECT_TRUE(same_cell(cell, rows[k][c])) << table.substr(0, 20) << " row " << k << ": " << cell.substr(0, 60)
                                                 << " vs " << rows[k][c].substr(0, 60);
      }
    }
  }
  EXPECT_EQ(cut, names.size());
}
