// The values of one row in its table's column order, as the library reads
// them: the rowid for the INTEGER PRIMARY KEY column, the column default
// for a record that ends early, reals for integers stored in REAL columns.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "format/value.h"
#include "schema/table_def.h"

// A view of a schema constant (texts are UTF-8).
value_view schema_value(const sql_value& value);

// Fills *out with one value per column of `table` from the record's values.
// For a table whose statement was not parsed, the record's values as they
// are. A column that is not stored (a VIRTUAL generated column) is unknown;
// so is the rowid alias when the rowid was not recovered.
void table_row_values(const table_def& table, std::span<const value_view> record, bool has_rowid,
                      int64_t rowid, std::vector<value_view>* out);
