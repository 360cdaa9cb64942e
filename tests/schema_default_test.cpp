// Column defaults against the real SQLite library: a row written before
// ALTER TABLE ADD COLUMN has no value for the new column, and the library
// reads the default in its place. The parse of the altered statement must
// give the same storage class and value.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "schema/schema.h"
#include "support/schema_check.h"

namespace {

const char* kind_name(value_kind k) {
  switch (k) {
    case value_kind::null: return "null";
    case value_kind::integer: return "integer";
    case value_kind::real: return "real";
    case value_kind::text: return "text";
    case value_kind::blob: return "blob";
    case value_kind::unknown: break;
  }
  return "unknown";
}

// Adds column c to a one-row table and compares what the library reads for
// it with the parsed default. False when the library refuses the column.
bool check_added_column(const std::string& table, const std::string& column) {
  SCOPED_TRACE(table + " + " + column);
  memory_db db;
  if (!db.exec(table + "; INSERT INTO t(a) VALUES(1); ALTER TABLE t ADD COLUMN " + column)) return false;
  table_def t;
  EXPECT_TRUE(parse_create_table(stored_tables(db)[0].sql, &t));
  if (t.columns.size() != 2) {
    ADD_FAILURE() << stored_tables(db)[0].sql;
    return true;
  }
  const sql_value& v = t.columns[1].default_value;
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db.db, "SELECT c FROM t", -1, &stmt, nullptr);
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  int type = sqlite3_column_type(stmt, 0);
  const char* expected = type == SQLITE_INTEGER ? "integer"
                         : type == SQLITE_FLOAT ? "real"
                         : type == SQLITE_TEXT  ? "text"
                         : type == SQLITE_BLOB  ? "blob"
                                                : "null";
  // A negated value that becomes a real written as text is left unknown.
  std::string library_text = type == SQLITE_TEXT ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)) : "";
  bool real_as_text = column.find("(-") != std::string::npos &&
                      t.columns[1].column_affinity == affinity::text &&
                      library_text.find_first_of(".e") != std::string::npos;
  if (real_as_text && v.kind == value_kind::unknown) {
    sqlite3_finalize(stmt);
    return true;
  }
  EXPECT_EQ(kind_name(v.kind), std::string(expected));
  if (type == SQLITE_INTEGER) {
    EXPECT_EQ(v.integer, sqlite3_column_int64(stmt, 0));
  }
  if (type == SQLITE_FLOAT) {
    double r = sqlite3_column_double(stmt, 0);
    EXPECT_EQ(std::memcmp(&v.real, &r, sizeof r), 0) << v.real << " vs " << r;
  }
  if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
    const void* p = sqlite3_column_blob(stmt, 0);
    std::string bytes(static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
    EXPECT_EQ(v.bytes, bytes);
  }
  sqlite3_finalize(stmt);
  return true;
}

const std::vector<std::string> defaults = {
    "5", "-5", "+5", "'5'", "' 5 '", "'5abc'", "'-5.0'", "5.0", "-5.5", "5.5", ".5", "5.", "1e3",
    "-1e3", "1e400", "-1e400", "-0.0", "0.0", "007", "'007'", "0x10", "-0x10", "0x7fffffff",
    "0x80000000", "0xffffffffffffffff", "-0x100000000", "2147483647", "2147483648", "-2147483648",
    "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
    "'9223372036854775807'", "'9223372036854775808'", "'-9223372036854775808'", "'1e3'",
    "'  1.5e2  '", "'0x10'", "'1.'", "'.5'", "'-'", "''", "'abc'", "'it''s'", "'+5'", "'\t5'",
    "'\v5'", "'5\n'", "'1e'", "'1.5e'", "'1.5x'", "'12345678901234567890'",
    "123456789012345678901234567890", "'0.1'", "0.1", "'3.14159265358979323846'",
    "1.7976931348623157e308", "4.9e-324", "'2.2250738585072014e-308'", "1e-400", "'1e308'",
    "x'00ff'", "X''", "NULL", "TRUE", "false", "\"true\"", "abc", "\"abc\"", "[x y]", "`q`", "(5)",
    "(-5)", "(- -5)", "(-(-5))", "(+5)", "(-+5)", "('x')", "(NULL)", "(true)", "(-true)", "-'5'",
    "-'abc'", "-'5.0'", "-NULL", "(-'-9223372036854775808')", "((x'01'))", "'\xc3\xa9'",
    "(-9223372036854775808)", "(-(-9223372036854775808))",
};

TEST(SchemaDefault, AddedColumnsReadAsTheLibraryReadsThem) {
  const char* types[] = {"", "INTEGER", "INT", "TEXT", "REAL", "NUMERIC", "BLOB", "VARCHAR(10)",
                         "FLOATING POINT", "ANY", "\"\""};
  int checked = 0;
  for (const char* type : types)
    for (const std::string& d : defaults)
      checked += check_added_column("CREATE TABLE t(a)", std::string("c ") + type + " DEFAULT " + d);
  EXPECT_GT(checked, 900);
}

TEST(SchemaDefault, StrictTables) {
  const char* types[] = {"INT", "INTEGER", "REAL", "TEXT", "BLOB", "ANY"};
  int checked = 0;
  for (const char* type : types)
    for (const std::string& d : defaults)
      checked += check_added_column("CREATE TABLE t(a ANY) STRICT", std::string("c ") + type + " DEFAULT " + d);
  EXPECT_GT(checked, 200);
}

TEST(SchemaDefault, WhatCannotBeEvaluatedIsUnknown) {
  table_def t;
  ASSERT_TRUE(parse_create_table(
      "CREATE TABLE t(a DEFAULT CURRENT_TIME, b DEFAULT (1+2), c DEFAULT (abs(-1)), "
      "d DEFAULT (CAST(1 AS TEXT)), e DEFAULT ('a' || 'b'), f TEXT DEFAULT -'1.5', "
      "g DEFAULT (x), h DEFAULT (\"q\"), i DEFAULT -CURRENT_DATE, j, k DEFAULT NULL)",
      &t));
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_TRUE(t.columns[i].has_default) << i;
    EXPECT_EQ(t.columns[i].default_value.kind, value_kind::unknown) << i;
  }
  EXPECT_FALSE(t.columns[9].has_default);
  EXPECT_EQ(t.columns[9].default_value.kind, value_kind::null);
  EXPECT_TRUE(t.columns[10].has_default);
  EXPECT_EQ(t.columns[10].default_value.kind, value_kind::null);
}

}  // namespace
