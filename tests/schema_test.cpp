// The CREATE TABLE parser against the real SQLite library: each statement is
// created in an in-memory database, and the parse of the text the library
// stored must agree with what the library reports about the table.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "schema/cut_statement.h"
#include "schema/schema.h"
#include "schema/sql_keywords.h"
#include "schema/sql_lexer.h"
#include "support/schema_check.h"

namespace {

// Creates the statement's tables and checks every one of them; the statement
// as written must parse to the same definition as the text stored for it.
void check_statement(const std::string& sql) {
  SCOPED_TRACE(sql);
  memory_db db;
  std::string error;
  ASSERT_TRUE(db.run_first(sql, &error)) << error;
  auto tables = stored_tables(db);
  ASSERT_FALSE(tables.empty());
  for (const stored_table& stored : tables) {
    SCOPED_TRACE(stored.sql);
    table_def t;
    ASSERT_TRUE(parse_create_table(stored.sql, &t));
    EXPECT_TRUE(t.parsed);
    if (t.virtual_table) continue;
    EXPECT_EQ(compare_with_library(db, stored.name, t), "");
  }
  table_def as_written, as_stored;
  ASSERT_TRUE(parse_create_table(sql, &as_written));
  for (const stored_table& stored : tables)
    if (sql_iequal(stored.name, as_written.name)) parse_create_table(stored.sql, &as_stored);
  EXPECT_EQ(describe(as_written), describe(as_stored));
}

const std::vector<std::string> statements = {
    // The rowid alias: INTEGER exactly, quoted or not, one key column;
    // DESC only in the column definition makes an ordinary column.
    "CREATE TABLE t(a, b, c)",
    "create table T(a INTEGER PRIMARY KEY, b TEXT NOT NULL, c REAL DEFAULT 0.5)",
    "CREATE TABLE t(a integer primary key desc, b)",
    "CREATE TABLE t(a INTEGER, b, PRIMARY KEY(a DESC))",
    "CREATE TABLE t(a INT PRIMARY KEY, b)",
    "CREATE TABLE t(a BIGINT PRIMARY KEY, b)",
    "CREATE TABLE t(a \"INTEGER\" PRIMARY KEY, b)",
    "CREATE TABLE t(a [integer] primary key asc on conflict fail autoincrement, b)",
    "CREATE TABLE t(a INTEGER(8) PRIMARY KEY, b)",
    "CREATE TABLE t(a INTEGER, b INTEGER, PRIMARY KEY(a, b))",
    "CREATE TABLE t(a INTEGER, b, PRIMARY KEY((\"A\") COLLATE nocase ASC))",
    "CREATE TABLE t(a, b, c, PRIMARY KEY(c, a, c))",
    "CREATE TABLE t(a INTEGER, b, PRIMARY KEY(a, a))",
    "CREATE TABLE t(a INTEGER PRIMARY KEY, b) WITHOUT ROWID",
    // WITHOUT ROWID: key columns first, in key order, once per collation.
    "CREATE TABLE t(a, b, c, d, PRIMARY KEY(c, a)) WITHOUT ROWID",
    "CREATE TABLE t(a, b, c, PRIMARY KEY(b, a, b COLLATE nocase, a)) without rowid",
    "CREATE TABLE t(a TEXT COLLATE NOCASE, b, PRIMARY KEY(b, a, a COLLATE \"nocase\")) WITHOUT ROWID",
    "CREATE TABLE t(a, b PRIMARY KEY DESC) WITHOUT ROWID",
    // STRICT, alone and with WITHOUT ROWID in either order.
    "CREATE TABLE t(a INT, b TEXT, c REAL, d BLOB, e ANY, f INTEGER PRIMARY KEY) STRICT",
    "CREATE TABLE t(a int, b text, PRIMARY KEY(b)) STRICT, WITHOUT ROWID",
    "CREATE TABLE t(a int, b text, c integer, PRIMARY KEY(b, a)) STRICT",
    "CREATE TABLE t(a integer PRIMARY KEY, b any) STRICT",
    "CREATE TABLE t(a \"int\" PRIMARY KEY) WITHOUT rowid , strict",
    "CREATE TABLE t(a INT PRIMARY KEY) ,WITHOUT ROWID",
    // Generated columns: VIRTUAL ones are not in the record, STORED ones are.
    "CREATE TABLE t(a INT, b INT GENERATED ALWAYS AS (a*2) VIRTUAL, c AS (a+1) STORED, "
    "d TEXT AS (a || ')') , e)",
    "CREATE TABLE t(a INTEGER GENERATED ALWAYS AS (1), b)",
    "CREATE TABLE t(a, b GENERATED ALWAYS AS (a) STORED, c AS (1), d, PRIMARY KEY(d, a)) WITHOUT ROWID",
    "CREATE TABLE t(x INT NOT NULL GENERATED ALWAYS AS (5) stored, y INTEGER PRIMARY KEY)",
    // Declared types as the library reports them.
    "CREATE TABLE t(a varchar /*x*/ ( 10 ), b \"my type\"(10), c 'in''t', d [abc](10), e [a] b, "
    "f \"\", g floating point, h DOUBLE PRECISION, i decimal(10, -2), j NATIVE CHARACTER(70), "
    "k unsigned big int, l CLOB, m charint, n x ALWAYS, o \"a\"\"b\" c, p integer, q Text)",
    "CREATE TABLE t(a INTEGER /* c */ GENERATED ALWAYS AS (1), b NUMERIC(+1.5e3, 2), c BLOBINT)",
    // Every constraint kind, with and without commas between table constraints.
    "CREATE TABLE t(a CONSTRAINT pk PRIMARY KEY ON CONFLICT REPLACE, "
    "b CONSTRAINT nn NOT NULL ON CONFLICT IGNORE CONSTRAINT u UNIQUE ON CONFLICT FAIL, "
    "c NULL CHECK (c > 0 AND c <> ')') COLLATE \"nocase\" DEFAULT 'x', "
    "d REFERENCES t(a) ON DELETE SET NULL ON UPDATE CASCADE MATCH simple NOT DEFERRABLE INITIALLY DEFERRED, "
    "e REFERENCES other DEFERRABLE CONSTRAINT x, "
    "CONSTRAINT c1 UNIQUE (b, c) ON CONFLICT ROLLBACK CHECK (a <> b) "
    "FOREIGN KEY (d, e) REFERENCES t2 (x, y) ON DELETE NO ACTION ON INSERT SET DEFAULT "
    "DEFERRABLE INITIALLY IMMEDIATE, CONSTRAINT named CHECK(1) ON CONFLICT ABORT, CONSTRAINT alone)",
    // Names: four quotings with inner quotes, non-ASCII, keywords.
    "CREATE TABLE \"we\"\"ird\"([a b], `c``d`, 'e''f' text, \"g\"\"h\" int, [select], \"from\")",
    "CREATE TABLE [t t](\"\", x, \"\"\"\")",
    "CREATE TABLE über(名前 TEXT, 日付 INT, ñ, \"\xe2\x82\xac\" PRIMARY KEY)",
    "CREATE TABLE main.t(a)",
    "CREATE TABLE IF NOT EXISTS t(a)",
    "CREATE TEMP TABLE t(a)",
    "CREATE TEMPORARY TABLE \"temp\"(a)",
    "CREATE TABLE key(key key, abort, action, asc desc, end, replace, temp, \"table\", rowid, "
    "window, over, filter, left, indexed, generated, always, current_time)",
    "CREATE TABLE t(a int key asc desc, b GENERATED, c no action)",
    "CREATE TABLE 't'('a' 'b')",
    // Comments and whitespace anywhere.
    "CREATE/*x*/TABLE\t\"t\"\n(\r\na\f-- c\nINTEGER/**/PRIMARY--\nKEY,b)/* unterminated",
    "CREATE TABLE t(a) -- trailing",
    "CREATE TABLE t(a);",
    "CREATE TABLE t(a TEXT DEFAULT (('a)b')) CHECK((((a)))), b DEFAULT(-(5)))",
    "CREATE TABLE t(a DEFAULT -5, b DEFAULT +'x', c DEFAULT x'00FF', d DEFAULT CURRENT_TIMESTAMP, "
    "e DEFAULT (1+2), f DEFAULT NULL, g DEFAULT true, h DEFAULT abc, i DEFAULT \"q\")",
    // Virtual tables: the table itself and its shadow tables.
    "CREATE VIRTUAL TABLE f USING fts5(a, b)",
    "CREATE VIRTUAL TABLE IF NOT EXISTS \"v t\" USING fts5(x, tokenize = 'porter ascii')",
};

TEST(Schema, StatementsAgreeWithTheLibrary) {
  for (const std::string& sql : statements) check_statement(sql);
}

TEST(Schema, RowidAliasHoldsTheRowid) {
  // The alias column reads the rowid; any other integer key is its own value.
  const std::vector<std::pair<std::string, bool>> cases = {
      {"CREATE TABLE t(a INTEGER PRIMARY KEY, b)", true},
      {"CREATE TABLE t(a INTEGER PRIMARY KEY DESC, b)", false},
      {"CREATE TABLE t(a INTEGER, b, PRIMARY KEY(a DESC))", true},
      {"CREATE TABLE t(a INT PRIMARY KEY, b)", false},
      {"CREATE TABLE t(a \"integer\" PRIMARY KEY, b)", true},
      {"CREATE TABLE t(a INTEGER(5) PRIMARY KEY, b)", false},
  };
  for (const auto& [sql, alias] : cases) {
    SCOPED_TRACE(sql);
    memory_db db;
    ASSERT_TRUE(db.exec(sql + "; INSERT INTO t VALUES(42, 'x')"));
    EXPECT_EQ(db.rows("SELECT rowid = a FROM t")[0][0], alias ? "1" : "0");
    table_def t;
    ASSERT_TRUE(parse_create_table(sql, &t));
    EXPECT_EQ(t.rowid_column, alias ? 0 : -1);
  }
}

TEST(Schema, ColumnAffinityMatchesTheLibrary) {
  // How a column stores the text '5.0' and the integer 5 tells its affinity.
  const char* types[] = {"", "INTEGER", "int(3)", "TEXT", "varchar(9)", "REAL", "FLOATING POINT",
                         "DOUBLE", "NUMERIC", "BLOB", "\"\"", "x", "CHARINT", "BLOBBY", "clob",
                         "[float]", "'REAL'", "ANY"};
  for (const char* type : types) {
    std::string sql = std::string("CREATE TABLE t(c ") + type + ")";
    SCOPED_TRACE(sql);
    memory_db db;
    ASSERT_TRUE(db.exec(sql + "; INSERT INTO t VALUES('5.0'), (5)"));
    table_def t;
    ASSERT_TRUE(parse_create_table(sql, &t));
    const char* expected = "";
    switch (t.columns[0].column_affinity) {
      case affinity::blob: expected = "text,integer"; break;
      case affinity::text: expected = "text,text"; break;
      case affinity::numeric:
      case affinity::integer: expected = "integer,integer"; break;
      case affinity::real: expected = "real,real"; break;
    }
    EXPECT_EQ(db.rows("SELECT group_concat(typeof(c)) FROM t")[0][0], expected);
  }
}

TEST(Schema, KeywordsAsNamesAndTypes) {
  ASSERT_EQ(sql_keyword_count(), static_cast<size_t>(sqlite3_keyword_count()));
  const std::vector<std::string> templates = {
      "CREATE TABLE t(@ INT, b)",       "CREATE TABLE @(a)",
      "CREATE TABLE t(a @)",            "CREATE TABLE t(a INT @ NOT NULL)",
      "CREATE TABLE t(@, PRIMARY KEY(@))", "CREATE TABLE t(a DEFAULT @)",
      "CREATE TABLE t(a COLLATE @)",    "CREATE TABLE t(a) WITHOUT @",
  };
  for (int i = 0; i < sqlite3_keyword_count(); ++i) {
    const char* name;
    int length;
    sqlite3_keyword_name(i, &name, &length);
    std::string word(name, static_cast<size_t>(length));
    sql_lexer lex(word);
    EXPECT_TRUE(lex.next().is(token_kind::keyword)) << word;
    for (const std::string& form : templates) {
      std::string sql = form;
      for (size_t at; (at = sql.find('@')) != std::string::npos;) sql.replace(at, 1, word);
      memory_db db;
      if (db.run_first(sql)) check_statement(sql);
    }
  }
}

TEST(Schema, StatementsTheLibraryRefusesFailCleanly) {
  const std::vector<std::string> refused = {
      "", "CREATE", "CREATE TABLE t", "CREATE TABLE t()", "CREATE TABLE t(a", "CREATE TABLE t(a,)",
      "CREATE TABLE t(a) WITHOUT", "CREATE TABLE t(a) WITHOUT ROWID", "CREATE TABLE t(a, A)",
      "CREATE TABLE t(a foo) STRICT", "CREATE TABLE t(a) STRICT", "CREATE TABLE t(a) \"strict\"",
      "CREATE TABLE t(a) WITHOUT \"rowid\"", "CREATE TABLE t(a PRIMARY KEY, b PRIMARY KEY)",
      "CREATE TABLE t(a, PRIMARY KEY(b))", "CREATE TABLE t(a INT PRIMARY KEY AUTOINCREMENT)",
      "CREATE TABLE t(a) x", "CREATE TABLE t(a 'b", "CREATE TABLE t(a [b", "CREATE TABLE t(\"a)",
      "CREATE TABLE t(a CHECK(a > 0)", "CREATE TABLE t(a AS (1) BOTH)", "CREATE TABLE t(a) /*",
      "CREATE TABLE t(a DEFAULT x'0')", "CREATE TABLE t(a varchar(x))", "CREATE TABLE t(a 5x)",
      "CREATE TABLE t(a, PRIMARY KEY(a) b)", "CREATE TABLE t(a PRIMARY KEY(a))",
      "CREATE TABLE t(a AS (1), PRIMARY KEY(a)) WITHOUT ROWID", "CREATE TABLE t(a DEFAULT -abc)",
      "CREATE TABLE t(a\v)", "CREATE TABLE t(a);x",
      "CREATE TABLE t(a, CHECK(1),)", "CREATE TABLE t(a INT), , STRICT"};
  for (const std::string& sql : refused) {
    memory_db db;
    table_def t;
    t.name = "leftover";
    bool parsed = parse_create_table(sql, &t);
    // Text after a semicolon is not part of the statement: the library
    // refuses nothing there, the first statement stands.
    bool library = db.run_first(sql) && !stored_tables(db).empty();
    EXPECT_EQ(parsed, library) << sql;
    if (!parsed) {
      EXPECT_FALSE(t.parsed) << sql;
      EXPECT_TRUE(t.name.empty() && t.columns.empty()) << sql;
    }
  }
  // Statements the library takes that are no table this parser reads.
  for (const char* sql : {"CREATE TABLE t AS SELECT 1 AS a", "CREATE INDEX i ON t(a)",
                          "CREATE VIEW v AS SELECT 1", "SELECT 1"}) {
    table_def t;
    EXPECT_FALSE(parse_create_table(sql, &t)) << sql;
  }
}

TEST(Schema, HostileInputNeverCrashes) {
  table_def t;
  std::string deep = "CREATE TABLE t(a CHECK(" + std::string(1000000, '(') + "1";
  EXPECT_FALSE(parse_create_table(deep, &t));
  deep += std::string(1000000, ')') + "))";
  EXPECT_TRUE(parse_create_table(deep, &t));
  EXPECT_FALSE(parse_create_table("CREATE TABLE t(a DEFAULT (" + std::string(1000000, '-'), &t));
  EXPECT_FALSE(parse_create_table("CREATE TABLE t(a /*" + std::string(1000000, '*'), &t));

  // A hundred thousand columns and a key naming each of them.
  std::string wide = "CREATE TABLE t(";
  std::string key;
  for (int i = 0; i < 100000; ++i) {
    wide += "c" + std::to_string(i) + " INT, ";
    key += (i ? ", c" : "c") + std::to_string(i);
  }
  ASSERT_TRUE(parse_create_table(wide + "PRIMARY KEY(" + key + ")) WITHOUT ROWID", &t));
  EXPECT_EQ(t.columns.size(), 100000u);
  EXPECT_EQ(t.storage_order.size(), 100000u);

  // The text ends at a NUL byte, as the library reads it.
  ASSERT_TRUE(parse_create_table(std::string("CREATE TABLE t(a)\0garbage", 25), &t));
  EXPECT_FALSE(parse_create_table(std::string("CREATE TABLE t(a\0)", 18), &t));
}

TEST(Schema, MutatedStatementsAgreeWithTheLibrary) {
  // Random edits of the statements above: never a crash, and whenever the
  // library still creates a table from the edited text, the parse agrees.
  const std::string alphabet = " \t\n()[]\"'`,;-/*xX05.eE+aZ\xc3\xa9";
  std::mt19937 random(20240601);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string sql = statements[random() % statements.size()];
    for (int edits = 1 + static_cast<int>(random() % 3); edits > 0 && !sql.empty(); --edits) {
      size_t at = random() % sql.size();
      char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0: sql.erase(at, 1); break;
        case 1: sql.insert(sql.begin() + static_cast<std::ptrdiff_t>(at), c); break;
        default: sql[at] = c; break;
      }
    }
    table_def t;
    bool parsed = parse_create_table(sql, &t);
    memory_db db;
    if (!db.run_first(sql) || stored_tables(db).empty()) continue;
    ++accepted;
    EXPECT_TRUE(parsed) << sql;
    if (parsed) check_statement(sql);
  }
  EXPECT_GT(accepted, 300);
}

TEST(Schema, SqliteMasterAndUnparsedTables) {
  const table_def& master = sqlite_master_table();
  EXPECT_EQ(master.name, "sqlite_master");
  memory_db db;
  EXPECT_EQ(compare_with_library(db, "sqlite_master", master), "");
  table_def u = unparsed_table("x", 3);
  EXPECT_FALSE(u.parsed);
  ASSERT_EQ(u.columns.size(), 3u);
  EXPECT_EQ(u.columns[2].name, "c3");
  EXPECT_EQ(u.columns[2].column_affinity, affinity::blob);
  EXPECT_EQ(u.storage_order, (std::vector<uint32_t>{0, 1, 2}));
}

}  // namespace

// A statement cut at every byte: the columns whose definitions survive whole
// agree with the whole statement's parse; the cut column's name, once it is
// followed by a space, and the PRIMARY KEY it begins to declare are read.
TEST(Schema, CutStatementsKeepWhatSurvives) {
  struct cut_case {
    const char* sql;
    size_t column;          // the column the cut at `at` falls in
    const char* name;
    const char* type;
    bool key;
  };
  const std::string sql = "CREATE TABLE \"t x\"(a TEXT, [b c] INT, id INTEGER PRIMARY KEY, d)";
  table_def whole;
  ASSERT_TRUE(parse_create_table(sql, &whole));
  for (size_t at = 0; at < sql.size(); ++at) {
    SCOPED_TRACE(sql.substr(0, at));
    cut_statement cut;
    const bool parsed = parse_cut_statement(sql.substr(0, at), &cut);
    ASSERT_EQ(parsed, at > sql.find('('));
    if (!parsed) continue;
    ASSERT_LE(cut.table.columns.size(), whole.columns.size());
    for (size_t i = 0; i < cut.table.columns.size(); ++i) {
      EXPECT_EQ(cut.table.columns[i].name, whole.columns[i].name);
      EXPECT_EQ(cut.table.columns[i].declared_type, whole.columns[i].declared_type);
    }
  }
  const cut_case cases[] = {
      {"CREATE TABLE doomed(id INTEGER PRIM", 0, "id", "INTEGER", true},
      {"CREATE TABLE doomed(id INTEGER PRIMARY K", 0, "id", "INTEGER", true},
      {"CREATE TABLE doomed(id INTEGER P", 0, "id", "INTEGER", true},
      {"CREATE TABLE doomed(id INTEGER NOT", 0, "id", "INTEGER", false},
      {"CREATE TABLE doomed(id INTEGER", 0, "id", "", false},
      {"CREATE TABLE doomed(id", 0, "", "", false},
      {"CREATE TABLE doomed(a, \"b\" VARCHAR(9) ", 1, "b", "VARCHAR(9)", false},
  };
  for (const cut_case& c : cases) {
    SCOPED_TRACE(c.sql);
    cut_statement cut;
    ASSERT_TRUE(parse_cut_statement(c.sql, &cut));
    EXPECT_EQ(cut.table.columns.size(), c.column);
    EXPECT_EQ(cut.cut_name, c.name);
    EXPECT_EQ(cut.cut_type, c.type);
    EXPECT_EQ(cut.cut_key_prefix, c.key);
  }
}
