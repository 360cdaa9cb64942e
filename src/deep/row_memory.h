// What the run remembers of rows, to print nothing twice: the live rows (a
// deleted record equal to one is a stale copy, left by a page split, a
// defragmentation or an update in place), and the deleted rows printed so
// far. Rows are remembered as 64-bit hashes of their table, rowid and
// record values: 12 bytes per live row.
#pragma once
#include <cstdint>
#include <span>
#include <unordered_set>
#include <vector>

#include "format/value.h"

struct row_memory {
  bool remember = true;  // false when no deleted rows are searched for
  // Table, rowid and values of each live row (table and values for a table
  // without rowid).
  std::vector<uint64_t> live;
  // Table and values of each live row, in 32 bits: what a copy that lost its
  // rowid (a cell a page split freed) is checked against. A chance match
  // hides one deleted row in about 2^32 / live rows.
  std::vector<uint32_t> live_values;
  std::unordered_set<uint64_t> printed_keyed;     // table, rowid and values
  std::unordered_set<uint64_t> printed_values;    // table and values, of every printed row
  std::unordered_set<uint64_t> printed_unkeyed;   // table and values, of rows printed without rowid
  // The fewest values a live record of each table held (by table index):
  // rows written before ALTER TABLE ADD COLUMN are shorter.
  std::vector<uint32_t> fewest_fields;
};

// The hash of a record of `table`: of its header's bytes and its values'
// bytes, as the library wrote them (equal records have equal bytes). A
// rebuilt header is encoded again from its serial types first.
uint64_t record_hash(int32_t table, byte_view header, byte_view body);

// The record hash of a whole payload (the header size read from its start).
uint64_t payload_hash(int32_t table, byte_view payload);

// Remembers a live row of table `table`: its record hash, and the number of
// values its record held.
void remember_live(row_memory* memory, int32_t table, bool has_rowid, int64_t rowid,
                   uint64_t hash, size_t fields);

// Sorts the live rows for lookups; call once after the live walk.
void seal_live(row_memory* memory);

// True when the record equals a live row: the part of seen_before() that
// only reads (the live rows are sealed), so searching threads may ask it.
bool copy_of_live(const row_memory& memory, bool keyed, bool has_rowid, int64_t rowid,
                  uint64_t hash);

// True when a deleted record should not be printed: it equals a live row
// (by rowid and values) or a deleted row printed before (by rowid and
// values, or by values when either copy lost its rowid). Otherwise
// remembers it as printed. `keyed` tells a table with rowids.
bool seen_before(row_memory* memory, bool keyed, bool has_rowid, int64_t rowid, uint64_t hash);
