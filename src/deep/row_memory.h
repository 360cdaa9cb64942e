// What the run remembers of rows, to print nothing twice: the live rows (a
// deleted record equal to one is a stale copy, left by a page split, a
// defragmentation or an update in place), and the deleted rows printed so
// far. A live row is remembered in 8 bytes: 40 bits of the hash of its
// table and record, 24 of its rowid's.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "deep/flat_set.h"
#include "format/bytes.h"
#include "format/value.h"

struct row_memory {
  bool remember = true;  // false when no deleted rows are searched for
  // Each live row: the record hash's top 40 bits, then 24 bits of its
  // rowid's hash (0 for a table without rowid). Sorted, a copy is found by
  // record and rowid, and one that lost its rowid (a cell a page split
  // freed) by record alone. A chance match hides one deleted row in about
  // 2^40 / live rows.
  std::vector<uint64_t> live;
  flat_set printed_keyed;     // record and rowid hash of printed rows
  flat_set printed_values;    // record hash of every printed row
  flat_set printed_unkeyed;   // record hash of rows printed without rowid
  // The primary keys of the live rows of WITHOUT ROWID tables (key_hash);
  // rowid tables are asked through their b-trees instead.
  flat_set live_keys;
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

// Room for this many live rows, so that the array grows only once.
void expect_live(row_memory* memory, uint64_t rows);

// The hash of a row's primary key: the first values of a WITHOUT ROWID
// table's record. False when one of them was not recovered.
bool key_hash(int32_t table, std::span<const value_view> key, uint64_t* hash);

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
