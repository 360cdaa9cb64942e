// A table as its CREATE TABLE statement defines it: the columns in order,
// their types, the rowid alias, the order of the values in its records.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/value.h"

// Column affinity, from the declared type by the library's rules.
enum class affinity : uint8_t { blob, text, numeric, integer, real };

// The declared type of a column of a STRICT table.
enum class strict_type : uint8_t { none, any, integer, real, text, blob };

// A constant value of the schema (a column default): a text is UTF-8.
struct sql_value {
  value_kind kind = value_kind::null;
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8) or blob
};

struct column_def {
  std::string name;            // the identifier with its quotes removed
  std::string declared_type;   // as the library reports it (PRAGMA table_info's type)
  affinity column_affinity = affinity::blob;
  strict_type strict = strict_type::none;
  bool not_null = false;       // as PRAGMA table_info reports it: declared
                               // NOT NULL, or a key column of a WITHOUT ROWID
                               // or STRICT table (the rowid alias aside)
  bool primary_key = false;    // part of the primary key
  bool generated = false;      // GENERATED ALWAYS AS (...) or AS (...)
  bool stored = false;         // a generated column that is STORED in the record
  bool has_default = false;
  // The value the library reads for this column from a record that ends
  // before it (a row written before ALTER TABLE ADD COLUMN): the default
  // with the column's affinity applied, or NULL without a default.
  sql_value default_value;
};

struct table_def {
  std::string name;
  std::vector<column_def> columns;
  bool parsed = false;         // false: not parsed; columns are c1..cN by count
  bool without_rowid = false;
  bool strict = false;
  bool virtual_table = false;  // CREATE VIRTUAL TABLE: no b-tree of its own
  int rowid_column = -1;       // the INTEGER PRIMARY KEY column, -1 when none
  // Record value j holds column storage_order[j]: declared order for rowid
  // tables, primary key columns first for WITHOUT ROWID tables; columns that
  // are not stored (VIRTUAL generated columns) are left out.
  std::vector<uint32_t> storage_order;
  // The primary key's columns in key order, as the library keys them. For a
  // WITHOUT ROWID table these are the first primary_key.size() values of a
  // record: a column named twice in the key counts once, unless the two
  // terms have different collations. Empty without a PRIMARY KEY.
  std::vector<uint32_t> primary_key;
  // Read from the rows of a dropped table whose statement was cut: its
  // records are taken only from its own pages.
  bool columns_inferred = false;
  std::string module;          // a virtual table's module (fts5, rtree, ...);
                               // a virtual table's columns are left empty
};

// Parses a CREATE TABLE or CREATE VIRTUAL TABLE statement (UTF-8), as the
// library accepts it: quoted identifiers of all four kinds, comments, any
// whitespace. Like the library, it reads the first statement only (text
// after its ';' is ignored) and stops at a NUL byte. Fills *out and returns
// true; returns false (and resets *out to an empty table_def, parsed ==
// false) when the statement is not one that can be parsed.
bool parse_create_table(std::string_view sql, table_def* out);

// A table whose statement could not be parsed: columns c1..cN.
table_def unparsed_table(std::string_view name, uint32_t column_count);
