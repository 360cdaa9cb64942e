// The indexes of the schema as the recovery reads them: the key columns of
// each, and a table_def named after the index whose columns are its key, so
// that an entry prints like a row (its indexed values and its rowid).
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "format/page_store.h"
#include "schema/schema.h"

struct index_def {
  table_def def;                 // the index's name; its key columns (and, for a
                                 // WITHOUT ROWID table, the rest of its key)
  int32_t table = -1;            // the indexed table (schema::tables), -1 unknown
  std::vector<int32_t> columns;  // the table column of each def column, -1 for an expression
  bool rowid_suffix = true;      // each entry ends with its row's rowid
  bool loose = false;            // the key is not known by column: any values fit
};

// The columns that CREATE INDEX ... ON t(...) keys, by the table's column
// index (-1 for an expression); false when the statement does not read as one.
bool index_key_columns(std::string_view sql, const table_def& table, std::vector<int32_t>* columns);

// The index of a schema object of type index. An automatic index (no SQL)
// keys the primary key when its first entry has that many values, else the
// count of values of that entry, by no known column.
index_def make_index_def(const schema_object& object, const schema& db_schema, const page_store& store);
