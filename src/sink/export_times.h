// The export's views of decoded times: <table>_times shows every column of
// the table, and after each time column (sink/time_columns.h) a column
// <column>_utc with its value as ISO 8601 UTC, computed by the library
// from the stored value: the same text as format_time() gives.
#pragma once
#include <string>
#include <vector>

#include "sink/time_columns.h"

struct sqlite3;

// The SQL expression that gives the time of `column` (an SQL expression)
// in the epoch: NULL for a value that is not a number.
std::string time_sql(const std::string& column, time_epoch epoch);

// Creates the view `view` over `table`; value column i is column fixed + i
// of the table. False on failure.
bool create_time_view(sqlite3* db, const std::string& table, const std::string& view, size_t fixed,
                      const std::vector<time_epoch>& epochs);
