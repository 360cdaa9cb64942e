// The status of a row read from outside the current state (free space, an
// older page image), by what the current state holds: an older version of
// a row that is still live is superseded, a row whose key no live row has
// is deleted, whatever the place it was found in.
#pragma once
#include <cstdint>
#include <span>

#include "deep/deep_state.h"

// The root page of each table's b-tree in the current state, by table
// index (sqlite_master's is page 1; 0 for a table without one).
void find_table_roots(deep_state* s);

// `found` is the status the place suggests: uncommitted stays uncommitted.
// Otherwise superseded when a live row of `table` has the row's key (its
// rowid, or for a WITHOUT ROWID table the primary key, the record's first
// values), else deleted. A row whose key was not recovered, or of no
// table, is deleted.
row_status status_by_key(const deep_state& s, int32_t table, row_status found, bool has_rowid,
                         int64_t rowid, std::span<const value_view> record);
