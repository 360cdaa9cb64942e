// Tables that DROP TABLE removed: their deleted sqlite_master rows, found in
// the schema's free space, give their names and columns; the free pages of
// their old b-trees are theirs.
#pragma once
#include <vector>

#include "recover/attribution.h"
#include "deep/deep_state.h"

// Adds each dropped table (a deleted schema row of a table whose name no
// live table has) to the schema, the sinks and the search, and marks the
// free pages its old b-tree still reaches as its own.
void add_dropped_tables(deep_state* s, const std::vector<schema_object>& rows, carve_tables* tables);
