// Entries of index b-trees found in free space. An entry is an old version
// of its row's indexed values; it is printed (under the index's name) only
// when no live entry and no printed row explains it.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "deep/flat_set.h"
#include "recover/index_defs.h"
#include "deep/page_map.h"
#include "format/page_store.h"
#include "format/value.h"

struct index_state {
  std::vector<index_def> defs;                 // by index id, in schema order
  std::vector<std::vector<int32_t>> by_table;  // a table's indexes (filled by index_tables)
  flat_set keyed;       // index, values and rowid of entries explained or printed
  flat_set unkeyed;     // index and values of rows printed without a rowid
  std::vector<uint8_t> live_read;  // an index's live entries are in `keyed`
};

// Lists each table's indexes whose key is known by column.
void index_tables(index_state* state, size_t table_count);

// The hash of an entry of index `index`: its key values (in the index's
// column order, reals of REAL columns as the table prints them) and rowid.
uint64_t entry_hash(int32_t index, std::span<const value_view> values, bool has_rowid, int64_t rowid);

// Records that a printed row of `table` (its values in column order)
// explains the entries its indexes held for it.
void explain_by_row(index_state* state, int32_t table, std::span<const value_view> columns, bool has_rowid,
                    int64_t rowid);

// Reads the live entries of index `index` from its pages in the map, once.
void read_live_entries(index_state* state, int32_t index, const page_store& store, const page_map& map,
                       text_encoding encoding);

// The key values (in the index's column order) and rowid of an entry's
// record values; false when the record is not an entry of the index.
bool entry_values(const index_def& def, std::span<const value_view> record, std::vector<value_view>* key,
                  bool* has_rowid, int64_t* rowid);
