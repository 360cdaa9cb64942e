// Rows that overflow their page, laid out by SQLite and sharing pages with
// other rows: every row is printed, in the default mode and with
// --fine-search, and every text and blob file holds the bytes that the
// SQLite library returns. The -d narration of such a row, line by line.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

// The format's limits of a table-leaf page: usable size, largest local
// payload X and smallest M.
struct limits {
  long usable, x, m;
};

limits limits_of(int page_size, int reserved) {
  long u = page_size - reserved;
  if (u < 480) u = page_size;
  return {u, u - 35, (u - 12) * 32 / 255 - 23};
}

// Payload lengths at the edges of the local-size rule: X (no overflow),
// X + 1 (K > X: M bytes stay local), X + (U - 4) (K = X), X + 1 + (U - 4)
// (K = X + 1 > X), and lengths with K = M + 10 and, after three full
// overflow pages, K = M + 7.
std::vector<long> edge_payloads(const limits& k) {
  const long step = k.usable - 4;
  return {k.x, k.x + 1, k.x + step, k.x + 1 + step, k.m + step + 10, k.m + 3 * step + 7};
}

int varint_length(long v) {
  int n = 1;
  for (; v >= 128; v >>= 7) ++n;
  return n;
}

// The data length that makes the record (NULL, kind, data) exactly
// `payload` bytes long.
long data_length(long payload, size_t kind_length, bool text) {
  const long kind_serial = 13 + 2 * static_cast<long>(kind_length);
  for (long n = payload; n >= 0; --n) {
    const long header = 2 + varint_length(kind_serial) + varint_length((text ? 13 : 12) + 2 * n);
    if (header + static_cast<long>(kind_length) + n == payload) return n;
  }
  return -1;
}

// Deterministic bytes: every value for blobs, printable ones (quotes and
// line feeds among them) for texts.
std::string filler(long n, unsigned seed, bool text) {
  std::string s(static_cast<size_t>(n), '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : s) {
    state = state * 1103515245u + 12345u;
    const uint32_t r = state >> 16;
    c = static_cast<char>(text ? (r % 97 == 0 ? '\n' : 0x20 + r % 95) : r & 0xFF);
  }
  return s;
}

struct row_spec {
  std::string kind;
  std::string data;
  bool text;
};

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) s += {digits[c >> 4], digits[c & 15]};
  return s;
}

// A table t(id INTEGER PRIMARY KEY, kind TEXT, data) filled in rowid order,
// on pages of page_size bytes with `reserved` bytes reserved on each.
void make_rows_db(const std::string& path, int page_size, int reserved, const std::vector<row_spec>& rows) {
  const auto literal = [](const std::string& text) {
    std::string s = "'";
    for (char c : text) s += c == '\'' ? std::string("''") : std::string(1, c);
    return s + "'";
  };
  // Secure delete on: the cells that page splits move leave no stale
  // copies behind, so each row has exactly one cell in the file.
  std::string sql = "PRAGMA secure_delete=ON; CREATE TABLE t(id INTEGER PRIMARY KEY, kind TEXT, data); BEGIN;";
  for (const row_spec& row : rows)
    sql += "INSERT INTO t(kind, data) VALUES(" + literal(row.kind) + ", " +
           (row.text ? literal(row.data) : "x'" + hex(row.data) + "'") + ");";
  make_db(path, sql + "COMMIT;", page_size, reserved);
  ASSERT_EQ(read_file(path).at(20), reserved);
}

std::string quoted(const std::string& text) {
  std::string s = "\"";
  for (unsigned char c : text)
    s += c == '"' ? std::string("\"\"") : std::string(1, c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.');
  return s + "\"";
}

struct stored_row {
  std::string id_and_kind;  // the line's first three fields
  std::string data;         // the last field's value
  bool blob;
  std::string line() const { return id_and_kind + "," + (blob ? "x'" + hex(data) + "'" : quoted(data)); }
};

// What the SQLite library returns for every row.
std::vector<stored_row> read_back(const std::string& path) {
  std::vector<stored_row> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT id, kind, data, typeof(data) FROM t ORDER BY id", -1, &select, nullptr),
            SQLITE_OK);
  while (sqlite3_step(select) == SQLITE_ROW) {
    const auto column = [&](int i) {
      const void* p = sqlite3_column_blob(select, i);
      return std::string(static_cast<const char*>(p ? p : ""),
                         static_cast<size_t>(sqlite3_column_bytes(select, i)));
    };
    rows.push_back({std::to_string(sqlite3_column_int64(select, 0)) + ",NULL," + quoted(column(1)), column(2),
                    std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, 3))) == "blob"});
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return rows;
}

// The fields of a CSV line as sarvek writes it (texts quoted, quotes doubled).
std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted_text = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"' && !(quoted_text && i + 1 < line.size() && line[i + 1] == '"')) quoted_text = !quoted_text;
    else if (line[i] == '"') fields.back() += line[i++];
    if (line[i] == ',' && !quoted_text) fields.emplace_back();
    else fields.back() += line[i];
  }
  return fields;
}

// Every SQLite row is printed exactly once in the default mode and with
// --fine-search. (Random bytes may hold row-like records too; those lines
// are not looked at.) With every blob in a file, each row's file, numbered
// by the blob fields before it, holds the blob's bytes.
void expect_every_row(const std::string& db, const std::string& what) {
  const std::vector<stored_row> rows = read_back(db);
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--fine-search"}}) {
    std::vector<std::string> args{"-i", db};
    args.insert(args.end(), options.begin(), options.end());
    const run_result r = run_sarvek(args);
    EXPECT_EQ(r.status, 0) << what;
    const std::vector<std::string> lines = split_lines(r.out);
    const std::multiset<std::string> printed(lines.begin(), lines.end());
    for (const stored_row& row : rows)
      EXPECT_EQ(printed.count(row.line()), 1u) << what << " " << args.size() << ": " << row.line().substr(0, 60);
  }

  scratch_dir files;
  const run_result r = run_sarvek({"-i", db, "--blob-size-limit=1"}, {.cwd = files.path});
  EXPECT_EQ(r.status, 0) << what;
  std::map<std::string, std::string> blob_of;  // by the first three fields
  for (const stored_row& row : rows)
    if (row.blob && !row.data.empty()) blob_of[row.id_and_kind] = row.data;
  size_t checked = 0;
  int number = 0;
  for (const std::string& line : split_lines(r.out)) {
    const std::vector<std::string> fields = fields_of(line);
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i == 0 || !fields[i].empty()) continue;  // a file-bound blob prints an empty field
      const std::string key = fields[0] + "," + fields[1] + "," + fields[2];
      if (i == 3 && fields.size() == 4 && blob_of.count(key)) {
        const std::vector<uint8_t> bytes = read_file(files.file(std::to_string(number) + ".blob"));
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == blob_of[key]) << what << ": " << key;
        ++checked;
      }
      ++number;
    }
  }
  EXPECT_EQ(checked, blob_of.size()) << what;
}

}  // namespace

TEST(OverflowRows, EdgesOfTheLocalSizeRuleAtEveryPageSize) {
  scratch_dir dir;
  for (int page_size = 512; page_size <= 65536; page_size *= 2) {
    for (int reserved : {0, 32}) {
      const limits k = limits_of(page_size, reserved);
      std::vector<row_spec> rows;
      unsigned seed = 1;
      for (long payload : edge_payloads(k))
        for (bool text : {false, true}) {
          const std::string kind = (text ? "t" : "b") + std::to_string(payload);
          rows.push_back({kind, filler(data_length(payload, kind.size(), text), seed++, text), text});
          rows.push_back({"small", filler(seed % 40, seed, false), false});  // shares the page
          ++seed;
        }
      const std::string db = dir.file("edges-" + std::to_string(page_size) + "-" + std::to_string(reserved) + ".db");
      make_rows_db(db, page_size, reserved, rows);
      expect_every_row(db, "page size " + std::to_string(page_size) + ", reserved " + std::to_string(reserved));
    }
  }
}

TEST(OverflowRows, RandomBlobsOfManySizes) {
  // The tryout's table: blobs of 100 to 200,000 bytes on 4096-byte pages.
  scratch_dir dir;
  std::vector<row_spec> rows;
  uint32_t state = 7;
  for (unsigned i = 0; i < 15; ++i) {
    state = state * 1103515245u + 12345u;
    rows.push_back({"attachment " + std::to_string(i), filler(100 + (state >> 8) % 199901, i, false), false});
  }
  const std::string db = dir.file("attachments.db");
  make_rows_db(db, 4096, 0, rows);
  expect_every_row(db, "attachments");
}

TEST(OverflowRows, DebugNarrationOfARowBeforeAnotherOnItsPage) {
  // Pages of 1024 bytes with 32 reserved: U = 992, X = 957, M = 99. Row 2
  // has a payload of 1500 bytes, of which 512 stay on the page (K = 99 +
  // 1401 mod 988), and one overflow page carries the other 988. Row 1 lies
  // after it, nearer the page's end.
  scratch_dir dir;
  const std::string db = dir.file("narration.db");
  const std::string blob = filler(1484, 3, false);  // 5 + 11 + 1484 = 1500
  make_rows_db(db, 1024, 32, {{"first row", "abcdefghij", true}, {"overflowing", blob, false},
                              {"third row", "0123456789", true}});
  const std::vector<uint8_t> file = read_file(db);
  ASSERT_EQ(file[1024], 13);                            // page 2 is the table's leaf
  const size_t cell = 1024 + (file[1024 + 10] << 8 | file[1024 + 11]);  // row 2's cell
  const size_t pointer = cell + 3 + 512;
  const uint32_t first = uint32_t{file[pointer]} << 24 | file[pointer + 1] << 16 | file[pointer + 2] << 8 | file[pointer + 3];
  ASSERT_GT(first, 2u);

  const run_result r = run_sarvek({"-i", db, "-d"}, {.cwd = dir.path});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> raw = split_lines(r.out);
  const std::string found = "ROWID: 2 found [+" + std::to_string(cell - 1024) + "] record size: 1503 bytes";
  const auto row_line = std::find(raw.begin(), raw.end(), found);
  ASSERT_NE(row_line, raw.end());
  // The row's narration: from the decoding of its first byte to the
  // decoding of the next position.
  const auto is_decode = [](const std::string& line) { return line.find("DEBUG:DECODING ROW---") != std::string::npos; };
  const auto begin = std::find_if(std::make_reverse_iterator(row_line), raw.rend(), is_decode).base() - 1;
  const auto end = std::find_if(row_line, raw.end(), is_decode);
  ASSERT_NE(end, raw.end());
  std::vector<std::string> got;
  for (auto line = begin; line != end; ++line)
    if (!(line->size() > 5 && (*line)[4] == ' ' && (*line)[5] == '[')) got.push_back(mask_debug(*line));
  const std::string page = std::to_string(first);
  EXPECT_EQ(got, (std::vector<std::string>{
                     "F:L:DEBUG:DECODING ROW-------------------------MODE:Standard",
                     "Decode_row start data: Hexdumping 16 bytes from 0xADDR",
                     "",
                     "F:L:DEBUG:Payload size: 1500",
                     "F:L:DEBUG: First overflow page = " + page,
                     "First overflow page start data: Hexdumping 16 bytes from 0xADDR",
                     "",
                     "F:L:DEBUG: Calculated address: 0xADDR",
                     "F:L:DEBUG: overflow page[1] = 0",
                     "DEBUG: Total of 1 overflow pages",
                     "DEBUG: Overflow 0->" + page,
                     "[L:1500][id:2][PLHz:5][0:0:0-8(3)][1:13:11-8(2)][2:12:1484-19(0)]"
                     "DEBUG: Payload head size match. (8 =? 8)",
                     " DEBUG: Data size by cell meta sum = 1495",
                     " Offset [1495] + headersize [5] = length check [1500]... ",
                     "",
                     "MATCH FOUND!",
                     found,
                     "",
                     "-DUMPING ROW------------------",
                     "Dump_row starting data: Hexdumping 16 bytes from 0xADDR",
                     "",
                     "ALLOCATED 1600 bytes to mapped data",
                     "Copying data for initial page",
                     "Copying data from file to memory for page " + page + " to offset [515]",
                     "Payload mapped data: Hexdumping 1503 bytes from 0xADDR",
                     "",
                     "2F:L:DEBUG: Cell[0], Type:0, size:0, offset:8",
                     ",NULLF:L:DEBUG: Cell[1], Type:13, size:11, offset:8",
                     ",F:L:DEBUG: Dumping text-13",
                     "\"overflowing\"F:L:DEBUG: Cell[2], Type:12, size:1484, offset:19",
                     ",F:L:DEBUG:Not Dumping data to blob file, keeping in CSV",
                     "x'" + hex(blob) + "'",
                 }));
  // The overflow dump shows the 16 bytes that end with the page number, and
  // the next position tested is 3 bytes (the prefix) before the end of the
  // cell's part on the page.
  const auto address = [&](const std::string& label) {
    const auto line = std::find_if(begin, end, [&](const std::string& l) { return l.rfind(label, 0) == 0; });
    return strtoull(line->c_str() + line->rfind(' ') + 1, nullptr, 16);
  };
  const uint64_t cell_address = address("Decode_row start data:");
  EXPECT_EQ(address("First overflow page start data:"), cell_address + 3 + 512 + 4 - 16);
  const auto starts = [](const char* text) { return [text](const std::string& l) { return l.rfind(text, 0) == 0; }; };
  const auto dump_row = std::find_if(begin, end, starts("First overflow")) + 1;
  std::string bytes;
  for (size_t i = pointer + 4 - 16; i < pointer + 4; ++i) bytes += hex(std::string(1, static_cast<char>(file[i]))) + " ";
  EXPECT_EQ(dump_row->substr(14, 48), bytes);
  const std::string next = *std::find_if(end, raw.end(), starts("Decode_row start data:"));
  EXPECT_EQ(strtoull(next.c_str() + next.rfind(' ') + 1, nullptr, 16), cell_address + 512 + 4);
}
