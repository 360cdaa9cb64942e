// The parser of CREATE TABLE and CREATE VIRTUAL TABLE statements
// (parse_create_table, declared in table_def.h) and what it derives from the
// columns once they are read.
#pragma once
#include <string>
#include <vector>

#include "schema/column_type.h"
#include "schema/default_value.h"
#include "schema/table_def.h"

// One term of the primary key: a column and the collation it is keyed by.
struct key_term {
  uint32_t column = 0;
  std::string collation;  // empty: the column's own
};

// What the statement says beyond the table_def's fields, for the rules that
// combine them.
struct table_clauses {
  std::vector<std::string> collations;  // per column, "BINARY" by default
  std::vector<standard_type> standard_types;  // per column
  std::vector<default_expr> defaults;   // per column
  std::vector<key_term> key;            // the PRIMARY KEY as written
  int key_clauses = 0;                  // PRIMARY KEY clauses seen
  bool key_in_column = false;           // written in a column definition
  bool key_desc = false;                // ... with DESC
  bool autoincrement = false;
};

// Derives the rowid alias, the primary key, the record order, the affinities
// of STRICT tables and the default values; false when the library would
// refuse the table (two primary keys, WITHOUT ROWID with none, a STRICT
// column without a standard type, a duplicate column name).
bool finish_table(table_clauses* c, table_def* t);
