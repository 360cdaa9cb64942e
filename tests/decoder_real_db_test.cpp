#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "format/varint.h"
#include "image/image.h"
#include "recognition/decode_row.h"
#include "support/sqlite_db.h"

namespace {

using row_values = std::vector<std::string>;

std::string hex(const uint8_t* p, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(two, sizeof two, "%02X", p[i]);
    out += two;
  }
  return out;
}

// The test's own reading of one cell: a tag and the value as text.
std::string cell_value(const cell_entry& cell, const uint8_t* data) {
  switch (cell.type) {
    case 0: return "N";
    case 8: return "I:0";
    case 9: return "I:1";
    case 7: {
      uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits = bits << 8 | data[i];
      double d;
      memcpy(&d, &bits, sizeof d);
      char text[40];
      snprintf(text, sizeof text, "F:%.17g", d);
      return text;
    }
    case 12: return "B:" + hex(data, cell.size);
    case 13: return "T:" + std::string(reinterpret_cast<const char*>(data), cell.size);
    default: {
      int64_t v = (data[0] & 0x80) ? -1 : 0;
      for (uint32_t i = 0; i < cell.size; ++i) v = static_cast<int64_t>(static_cast<uint64_t>(v) << 8 | data[i]);
      return "I:" + std::to_string(v);
    }
  }
}

struct database {
  std::vector<uint8_t> bytes;
  uint32_t page_size = 0;
  uint32_t be(size_t at, int n) const {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | bytes[at + static_cast<size_t>(i)];
    return v;
  }
  // File offsets of the cells of every leaf below the table's root page.
  void leaf_cells(uint32_t page, std::vector<size_t>& out) const {
    const size_t base = size_t{page - 1} * page_size;
    const size_t header = base + (page == 1 ? 100 : 0);
    const uint32_t count = be(header + 3, 2);
    if (bytes[header] == 13) {
      for (uint32_t k = 0; k < count; ++k) out.push_back(base + be(header + 8 + 2 * k, 2));
    } else if (bytes[header] == 5) {
      for (uint32_t k = 0; k < count; ++k) leaf_cells(be(base + be(header + 12 + 2 * k, 2), 4), out);
      leaf_cells(be(header + 8, 4), out);
    }
  }
};

uint32_t root_page(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = ?1", -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_STATIC);
  uint32_t root = sqlite3_step(stmt) == SQLITE_ROW ? static_cast<uint32_t>(sqlite3_column_int(stmt, 0)) : 0;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return root;
}

}  // namespace

TEST(DecoderRealDb, FindsEveryInsertedRowAtItsCell) {
  // Rows of every storage class and integer width, in a table that spans
  // several leaf pages, and a row whose blob overflows onto two pages.
  const int64_t integers[] = {0, 1, 100, -200, 40000, 8000000, -3000000000, int64_t{1} << 40,
                              int64_t{1} << 60};
  std::map<int64_t, row_values> expected_t;
  std::string sql = "CREATE TABLE t(id INTEGER PRIMARY KEY, a, b, c, d);\n"
                    "CREATE TABLE big(id INTEGER PRIMARY KEY, payload BLOB, tag TEXT);\n"
                    "INSERT INTO big VALUES(7, zeroblob(10000), 'tail');\n"
                    "INSERT INTO big VALUES(8, x'0102', 'second');\nBEGIN;\n";
  for (int i = 1; i <= 200; ++i) {
    const int64_t a = integers[i % 9];
    const std::string b = i % 50 == 0 ? "" : "row " + std::to_string(i) + std::string(i % 13, 'x');
    std::vector<uint8_t> c(i % 20);
    for (size_t k = 0; k < c.size(); ++k) c[k] = static_cast<uint8_t>(i * 7 + static_cast<int>(k));
    const double d = i * 0.25 + 0.125;
    char dtext[40];
    snprintf(dtext, sizeof dtext, "%.17g", d);
    sql += "INSERT INTO t VALUES(" + std::to_string(i) + "," + std::to_string(a) + ",'" + b + "',x'" +
           hex(c.data(), c.size()) + "'," + (i % 7 == 0 ? std::string("NULL") : dtext) + ");\n";
    expected_t[i] = {"N", "I:" + std::to_string(a), "T:" + b, "B:" + hex(c.data(), c.size()),
                     i % 7 == 0 ? "N" : std::string("F:") + dtext};
  }
  sql += "COMMIT;\n";
  scratch_dir dir;
  const std::string path = dir.file("rows.db");
  make_db(path, sql);

  database db;
  db.bytes = read_file(path);
  ASSERT_FALSE(db.bytes.empty());
  globals g;
  globals_init(&g);
  image_attach(&g, db.bytes.data(), db.bytes.size());
  ASSERT_EQ(image_read_header(&g), 0);
  db.page_size = g.page_size;
  ASSERT_EQ(g.page_size, 4096u);
  auto row = std::make_unique<row_record>();
  ASSERT_EQ(row_record_bind(&g, row.get()), 0);

  std::vector<size_t> t_cells, big_cells;
  db.leaf_cells(root_page(path, "t"), t_cells);
  db.leaf_cells(root_page(path, "big"), big_cells);
  ASSERT_EQ(t_cells.size(), 200u);
  ASSERT_EQ(big_cells.size(), 2u);
  std::map<size_t, int64_t> t_at;
  for (size_t offset : t_cells) {
    uint64_t length, rowid;
    const uint8_t* p = db.bytes.data() + offset;
    decode_varint(&length, p, &p);
    decode_varint(&rowid, p, &p);
    t_at[offset] = static_cast<int64_t>(rowid);
  }

  // The big row's cell, found the way SQLite lays it out: its local part and
  // overflow pointer end exactly at the end of its page.
  const size_t big_cell = big_cells[0];
  const size_t big_page_end = (big_cell / 4096 + 1) * 4096;
  std::vector<uint32_t> chain;
  for (uint32_t p = db.be(big_page_end - 4, 4); p != 0; p = db.be(size_t{p - 1} * 4096, 4)) chain.push_back(p);
  ASSERT_EQ(chain.size(), 2u);  // 10010 - 1826 local bytes = 2 x 4092

  // Decode at every position of every page; check the rows at their cells.
  size_t found_t = 0, found_big = 0;
  for (size_t page = 0; page < db.bytes.size(); page += 4096) {
    const uint8_t* page_end = db.bytes.data() + page + 4096;
    for (size_t offset = page; offset < page + 4096; ++offset) {
      const int32_t result = decode_row(&g, db.bytes.data() + offset, page_end, row.get(), mode_standard, 0);
      const auto t_hit = t_at.find(offset);
      if (t_hit != t_at.end()) {
        ASSERT_EQ(result, 1) << "row " << t_hit->second << " at " << offset;
        EXPECT_EQ(row->rowid, t_hit->second);
        EXPECT_EQ(row->overflow_pages[0], 0u);
        ASSERT_EQ(row->last_cell, 4);
        row_values got;
        for (int i = 0; i <= row->last_cell; ++i)
          got.push_back(cell_value(row->cells[i], db.bytes.data() + offset + row->cells[i].offset));
        EXPECT_EQ(got, expected_t[t_hit->second]) << "row " << t_hit->second;
        ++found_t;
      } else if (offset == big_cell) {
        ASSERT_EQ(result, 1);
        EXPECT_EQ(row->rowid, 7);
        EXPECT_EQ(row->payload_length, 6u + 10000 + 4);  // header: size, types of 1, 3, 1 bytes
        ASSERT_EQ(row->last_cell, 2);
        EXPECT_EQ(row->cells[1].type, 12u);
        EXPECT_EQ(row->cells[1].size, 10000u);
        EXPECT_EQ(row->cells[2].type, 13u);
        EXPECT_EQ(row->cells[2].size, 4u);
        std::vector<uint32_t> list;
        for (int i = 0; row->overflow_pages[i] != 0; ++i) list.push_back(row->overflow_pages[i]);
        EXPECT_EQ(list, chain);
        ++found_big;
      } else if (offset == big_cells[1]) {
        ASSERT_EQ(result, 1);
        EXPECT_EQ(row->rowid, 8);
        EXPECT_EQ(cell_value(row->cells[1], db.bytes.data() + offset + row->cells[1].offset), "B:0102");
        EXPECT_EQ(cell_value(row->cells[2], db.bytes.data() + offset + row->cells[2].offset), "T:second");
        ++found_big;
      }
    }
  }
  EXPECT_EQ(found_t, 200u);
  EXPECT_EQ(found_big, 2u);
  globals_release(&g);
}
