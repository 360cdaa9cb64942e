// The format layer's local-payload rule and overflow-chain steps against the
// cells the SQLite library writes: every cell of a table and of an index on
// databases of several page sizes and reserves, its payload reassembled by
// the deep mode's gathering and by the byte scan's steps, compared with the
// value the library returns.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "format/btree_page.h"
#include "format/cell.h"
#include "format/db_header.h"
#include "format/payload.h"
#include "format/record.h"
#include "image/image.h"
#include "recognition/row_record.h"
#include "support/sqlite_db.h"

namespace {

using blob = std::vector<uint8_t>;

// Blob sizes around both thresholds (X of table leaves and of index pages)
// and over several overflow pages.
std::vector<int> blob_sizes(int usable) {
  std::vector<int> sizes = {0, 1, 200, 3 * usable, 5 * usable + 17};
  const int table_x = max_local(usable, true), index_x = max_local(usable, false);
  for (int d = -12; d <= 12; d += 3) sizes.insert(sizes.end(), {table_x + d, index_x + d});
  for (int k = 1; k <= 9; ++k) sizes.push_back(usable * k / 2 + k);
  return sizes;
}

std::map<int64_t, blob> library_rows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  std::map<int64_t, blob> rows;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT id, v FROM t", -1, &st, nullptr), SQLITE_OK);
  while (sqlite3_step(st) == SQLITE_ROW) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 1));
    rows[sqlite3_column_int64(st, 0)] = blob(p, p + sqlite3_column_bytes(st, 1));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// The payload as the byte scan follows its chain: the local part, then each
// page's data, page after page through image_next_overflow_page.
blob scan_payload(const globals& g, byte_view page, const cell_info& cell) {
  blob out(page.begin() + cell.payload_offset, page.begin() + cell.payload_offset + cell.local_size);
  uint64_t remaining = cell.payload_size - cell.local_size;
  const uint32_t capacity = overflow_page_capacity(static_cast<uint32_t>(standard_local_rule(&g).usable));
  for (uint32_t next = cell.overflow_page; remaining > 0 && next != 0;) {
    const uint64_t offset = page_offset(next, g.page_size);
    const byte_view data = overflow_page_data(image_bytes(&g), offset, std::min<uint64_t>(remaining, capacity));
    out.insert(out.end(), data.begin(), data.end());
    remaining -= data.size();
    if (!image_next_overflow_page(&g, offset, &next)) break;
  }
  return out;
}

TEST(FormatChains, LibraryCellsReassembleToTheLibraryValues) {
  const struct { int page_size, reserve; } layouts[] = {
      {512, 0}, {512, 32}, {1024, 0}, {1024, 200}, {4096, 0}, {4096, 40}, {65536, 0}, {65536, 255}};
  for (const auto& layout : layouts) {
    SCOPED_TRACE("page size " + std::to_string(layout.page_size) + ", reserve " +
                 std::to_string(layout.reserve));
    scratch_dir dir;
    std::string sql = "CREATE TABLE t(id INTEGER PRIMARY KEY, v BLOB); CREATE INDEX t_v ON t(v); BEGIN;";
    int id = 0;
    for (int size : blob_sizes(layout.page_size - layout.reserve))
      sql += "INSERT INTO t VALUES(" + std::to_string(++id) + ", randomblob(" + std::to_string(size) + "));";
    make_db(dir.file("t.db"), sql + "COMMIT;", layout.page_size, layout.reserve);
    const std::map<int64_t, blob> rows = library_rows(dir.file("t.db"));
    const blob file = read_file(dir.file("t.db"));
    const page_store store = make_page_store(file, read_db_header(file, 0));
    globals g;
    globals_init(&g);
    image_attach(&g, file.data(), file.size());
    ASSERT_EQ(image_read_header(&g), 0);

    int table_cells = 0, index_cells = 0, overflowing = 0;
    std::vector<uint8_t> scratch;
    std::vector<value_view> values;
    for (uint32_t n = 1; n <= store.page_count; ++n) {
      btree_page page;
      if (!read_btree_page(store_page(store, n), n, store.usable, &page) || page.type == page_table_interior)
        continue;
      for (uint32_t i = 0; i < page.cell_count; ++i) {
        uint32_t offset = 0;
        cell_info cell;
        ASSERT_TRUE(cell_offset(page, i, &offset));
        ASSERT_TRUE(read_cell(page.bytes, page.type, store.usable, offset, store.usable, &cell));
        const payload_view payload = gather_payload(store, page.bytes, cell, &scratch, nullptr);
        ASSERT_TRUE(payload.complete);
        ASSERT_TRUE(parse_record(payload.bytes, text_encoding::utf8, &values));
        const bool table = page.type == page_table_leaf;
        if (table && values.size() == 2) {  // the schema's own rows have five columns
          ++table_cells;
          EXPECT_EQ(blob(values[1].bytes.begin(), values[1].bytes.end()), rows.at(cell.rowid));
        } else if (!table) {
          ++index_cells;
          EXPECT_EQ(blob(values[0].bytes.begin(), values[0].bytes.end()), rows.at(values[1].integer));
        }
        if (cell.overflow_page == 0) continue;
        ++overflowing;
        EXPECT_EQ(scan_payload(g, page.bytes, cell), blob(payload.bytes.begin(), payload.bytes.end()));
        if (table) {
          EXPECT_EQ(local_payload_size(standard_local_rule(&g), cell.payload_size), cell.local_size);
        }
      }
    }
    EXPECT_EQ(table_cells, static_cast<int>(rows.size()));
    EXPECT_EQ(index_cells, static_cast<int>(rows.size()));
    EXPECT_GT(overflowing, 0);
  }
}

}  // namespace
