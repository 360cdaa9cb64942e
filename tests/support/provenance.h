// Checks that each row of the deep mode's output points at its own bytes:
// the file its source names, and the cell at its offset there.
#pragma once
#include <set>
#include <string>
#include <vector>

#include "support/deep_output.h"

// The rows whose (source, offset) do not lead to their cell in `db` or the
// log beside it (db-wal for `wal`, db-journal for `journal`), one line
// each saying why. A row that prints its rowid must begin with its payload
// length and that rowid; a row whose first text or blob comes before any
// other text or blob must hold that value's first bytes within a page of
// its offset (texts are compared only when `utf8`). Entries of the indexes
// named in `indexes` keep their rowid in their record: only their values
// are looked for.
std::vector<std::string> misplaced_rows(const std::vector<deep_csv_row>& rows, const std::string& db,
                                        uint32_t page_size, bool utf8, const std::set<std::string>& indexes = {});
