// The key columns of CREATE INDEX statements, as the deep mode reads them to
// tell index entries from rows: checked against the library's own
// PRAGMA index_xinfo for the same statements.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "recover/index_defs.h"
#include "schema/table_def.h"

namespace {

// The key columns the library lists for the index (cid, -2 for an expression).
std::vector<int32_t> library_key(sqlite3* db, const std::string& index) {
  std::vector<int32_t> out;
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, ("SELECT cid FROM pragma_index_xinfo('" + index + "') WHERE key = 1").c_str(), -1,
                     &stmt, nullptr);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    const int cid = sqlite3_column_int(stmt, 0);
    out.push_back(cid < 0 ? -1 : cid);
  }
  sqlite3_finalize(stmt);
  return out;
}

}  // namespace

TEST(IndexDefs, KeyColumnsAreTheLibrarys) {
  const std::string table_sql = "CREATE TABLE \"T t\"(id INTEGER PRIMARY KEY, \"Na me\" TEXT, city, age INT, [x y] REAL)";
  const std::vector<std::string> indexes = {
      "CREATE INDEX i1 ON \"T t\"(city)",
      "CREATE UNIQUE INDEX IF NOT EXISTS i2 ON \"T t\" (\"Na me\" COLLATE NOCASE DESC, age ASC)",
      "CREATE INDEX i3 ON \"T t\"(age) WHERE age > 50",
      "CREATE INDEX i4 ON \"T t\"(lower(city), [x y], age + 1)",
      "CREATE INDEX i5 ON \"T t\"(AGE, CITY) /* comment ( , ) */",
      "CREATE INDEX i6 ON \"T t\"('city', `age`)",
  };
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, table_sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  table_def table;
  ASSERT_TRUE(parse_create_table(table_sql, &table));
  for (size_t i = 0; i < indexes.size(); ++i) {
    SCOPED_TRACE(indexes[i]);
    ASSERT_EQ(sqlite3_exec(db, indexes[i].c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    std::vector<int32_t> columns;
    ASSERT_TRUE(index_key_columns(indexes[i], table, &columns));
    EXPECT_EQ(columns, library_key(db, "i" + std::to_string(i + 1)));
  }
  sqlite3_close(db);
  std::vector<int32_t> columns;
  EXPECT_FALSE(index_key_columns("CREATE INDEX broken ON t(a", table, &columns));
}
