// The -d narration around each row of a small database: a live row, an
// overflowing row with a blob file, and a deleted row inside a freeblock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

// Prefixes and addresses masked. Only lower-case names are taken for the
// source file, so a field written just before a prefix ("2", "NULL") stays.
std::string mask(const std::string& text) {
  static const std::regex prefix(R"([a-z_]+\.(cpp|h):[0-9]+:)");
  return mask_debug(std::regex_replace(text, prefix, "F:L:"));
}

// The masked lines from the first one equal to `from` up to and including
// the first one equal to `to` after it, hex dump rows left out.
std::vector<std::string> block(const std::vector<std::string>& lines, const std::string& from,
                               const std::string& to) {
  std::vector<std::string> out;
  bool inside = false;
  for (const std::string& line : lines) {
    if (!inside && line == from) inside = true;
    if (!inside) continue;
    if (!(line.size() > 5 && line[4] == ' ' && line[5] == '[')) out.push_back(line);
    if (line == to) break;
  }
  return out;
}

// Every "ROW found at offset" line shows the search start's address negated.
void expect_negated_offsets(const std::string& raw) {
  long cfp = 0;
  int checked = 0;
  for (const std::string& line : split_lines(raw)) {
    size_t at = line.find("DEBUG: g->db_cfp search at = ");
    if (at != std::string::npos) cfp = static_cast<long>(strtoull(line.c_str() + at + 29, nullptr, 16));
    at = line.find("DEBUG: ROW found at offset: ");
    if (at != std::string::npos) {
      EXPECT_EQ(strtol(line.c_str() + at + 28, nullptr, 10), -cfp);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 3);  // pages 2, 3 and 4
}

std::string make_debug_db(const scratch_dir& dir) {
  const std::string db = dir.file("debug.db");
  std::string digits_hex;
  for (int i = 0; i < 700; ++i) digits_hex += "3" + std::to_string(i % 10);
  std::string sql =
      "CREATE TABLE b(id INTEGER PRIMARY KEY, name TEXT, data BLOB);"
      "INSERT INTO b VALUES(1, 'long', x'" + digits_hex + "');"
      "INSERT INTO b VALUES(2, 'short', x'CAFE');"
      "CREATE TABLE c(id INTEGER PRIMARY KEY, name TEXT, n INTEGER);";
  for (int id = 300; id <= 302; ++id) {
    std::string name;
    for (int i = 0; i < 11; ++i) name += "deleted-" + std::to_string(id) + " ";
    sql += "INSERT INTO c VALUES(" + std::to_string(id) + ", '" + name + "', " + std::to_string(id) + ");";
  }
  make_db(db, sql, 512);
  exec_db(db, "DELETE FROM c WHERE id = 301;");
  return db;
}

}  // namespace

TEST(DebugNarration, LiveAndOverflowingRows) {
  scratch_dir dir;
  const std::string db = make_debug_db(dir);
  const run_result r = run_sarvek({"-i", db, "-d", "--blob-size-limit=100"}, {.cwd = dir.path});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = split_lines(mask(r.out));
  // Four pages, three searched (page 1 never is); page 4 holds a freeblock
  // and is searched in free-space mode even without --freespace.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "F:L:DEBUG: g->db_cfp search at = 0xADDR"), 4);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "find_next_row: MODE: 0"), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "find_next_row: MODE: 1"), 1);

  // Page 2: the live row at the start of the cell content area (offset 291),
  // then, after the step by its payload length, the overflowing row at 304.
  EXPECT_EQ(block(lines, "ROWID: 2 found [+291] record size: 13 bytes", "x'CAFE'"),
            (std::vector<std::string>{
                "ROWID: 2 found [+291] record size: 13 bytes",
                "",
                "-DUMPING ROW------------------",
                "Dump_row starting data: Hexdumping 16 bytes from 0xADDR",
                "",
                "Payload mapped data: Hexdumping 221 bytes from 0xADDR",
                "",
                "2F:L:DEBUG: Cell[0], Type:0, size:0, offset:6",
                ",NULLF:L:DEBUG: Cell[1], Type:13, size:5, offset:6",
                ",F:L:DEBUG: Dumping text-13",
                "\"short\"F:L:DEBUG: Cell[2], Type:12, size:2, offset:11",
                ",F:L:DEBUG:Not Dumping data to blob file, keeping in CSV",
                "x'CAFE'",
            }));
  const std::vector<std::string> overflowing =
      block(lines, "ROWID: 1 found [+304] record size: 712 bytes", "F:L:DEBUG: Finished searching for rows in DB page 2");
  EXPECT_EQ(overflowing,
            (std::vector<std::string>{
                "ROWID: 1 found [+304] record size: 712 bytes",
                "",
                "-DUMPING ROW------------------",
                "Dump_row starting data: Hexdumping 16 bytes from 0xADDR",
                "",
                "ALLOCATED 809 bytes to mapped data",
                "Copying data for initial page",
                "Copying data from file to memory for page 3 to offset [204]",
                "Payload mapped data: Hexdumping 712 bytes from 0xADDR",
                "",
                "1F:L:DEBUG: Cell[0], Type:0, size:0, offset:8",
                ",NULLF:L:DEBUG: Cell[1], Type:13, size:4, offset:8",
                ",F:L:DEBUG: Dumping text-13",
                "\"long\"F:L:DEBUG: Cell[2], Type:12, size:700, offset:12",
                ",F:L:DEBUG:Dumping data to 1.blob [700 bytes]",
                "F:L:DEBUG: Writing 700 bytes to 1.blob",
                "\"1.blob\"",
                "F:L:DEBUG: Row location not in g->db_cfp page",
                "F:L:DEBUG: Row has been returned as NULL",
                overflowing.size() > 19 ? overflowing[19] : std::string(),  // checked below
                "F:L:DEBUG: Finished searching for rows in DB page 2",
            }));
  ASSERT_GT(overflowing.size(), 19u);
  EXPECT_EQ(overflowing[19].rfind("F:L:DEBUG: ROW found at offset: -", 0), 0u);
  std::string digits;
  for (int i = 0; i < 700; ++i) digits += static_cast<char>('0' + i % 10);
  const std::vector<uint8_t> blob = read_file(dir.file("1.blob"));
  EXPECT_EQ(std::string(blob.begin(), blob.end()), digits);
  expect_negated_offsets(r.out);
}

TEST(DebugNarration, DeletedRowInAFreeblock) {
  scratch_dir dir;
  const std::string db = make_debug_db(dir);
  const run_result r = run_sarvek({"-i", db, "-d", "--freespace"}, {.cwd = dir.path});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = split_lines(mask(r.out));
  std::string name;
  for (int i = 0; i < 11; ++i) name += "deleted-301 ";
  // The search starts right after the freeblock's header; the record fills
  // the freeblock's 143 bytes and ends the page's search.
  const std::vector<std::string> got =
      block(lines, "find_next_row: MODE: 1", "F:L:DEBUG: Finished searching for rows in DB page 4");
  ASSERT_GT(got.size(), 3u);
  const std::vector<std::string> tail(std::find(got.begin(), got.end(), "ROWID: 1 found [+0] record size: 134 bytes"),
                                      got.end());
  ASSERT_EQ(tail.size(), 17u);
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "ROWID: 1 found [+0] record size: 134 bytes",
                      "",
                      "-DUMPING ROW------------------",
                      "Dump_row starting data: Hexdumping 16 bytes from 0xADDR",
                      "",
                      "Payload mapped data: Hexdumping 282 bytes from 0xADDR",
                      "",
                      "-1F:L:DEBUG: Cell[0], Type:0, size:0, offset:5",
                      ",NULLF:L:DEBUG: Cell[1], Type:13, size:132, offset:5",
                      ",F:L:DEBUG: Dumping text-13",
                      "\"" + name + "\"F:L:DEBUG: Cell[2], Type:2, size:2, offset:137",
                      ",301",
                      "F:L:DEBUG: No more data left in freespace block to examine",
                      "F:L:DEBUG: Row location not in g->db_cfp page",
                      "F:L:DEBUG: Row has been returned as NULL",
                      tail[15],
                      "F:L:DEBUG: Finished searching for rows in DB page 4",
                  }));
  EXPECT_EQ(tail[15].rfind("F:L:DEBUG: ROW found at offset: -", 0), 0u);
  // Rows of the standard-mode page 2 are reported, not printed.
  EXPECT_NE(r.out.find("ROWID: 2 found [+291] record size: 13 bytes\n"), std::string::npos);
  EXPECT_EQ(r.out.find("-DUMPING ROW"), r.out.rfind("-DUMPING ROW"));
  expect_negated_offsets(r.out);
}
