// A record found in free space: where its cell lay on the page, its header
// (read whole, or rebuilt where a freeblock header overwrote it) and where
// its values lie.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// How the cells of a region are laid out: table-leaf cells (payload length,
// rowid, record) or index cells (payload length, record), as the rows of
// WITHOUT ROWID tables are stored.
enum class cell_format : uint8_t { table, index };

struct carved_field {
  uint64_t serial;    // the serial type, when type_known
  uint64_t size;      // bytes of the value (always known)
  bool type_known;    // false: the size fits more than one type
};

// Where a found cell lies and how its record is laid out, apart from its
// fields.
struct carved_cell {
  cell_format format = cell_format::table;
  uint32_t cell_start = 0;     // page offset of the cell's first byte
  uint32_t record_start = 0;   // page offset of the record's header-size varint
  uint32_t end = 0;            // page offset one past the cell's bytes on the page
  uint64_t payload_size = 0;   // P: header and values
  uint32_t local_size = 0;     // payload bytes on the page
  uint32_t overflow_page = 0;  // first overflow page, 0 when all local
  uint64_t header_size = 0;
  bool has_rowid = false;      // false: overwritten, or an index cell
  int64_t rowid = 0;
  bool rebuilt = false;        // part of the header was inferred
  bool end_settled = false;    // a lost type's size was taken from where the record ends
  // A lost type's size was read off the record's free overflow chain, which
  // its payload fills exactly: the chain, not a boundary, fixes its end.
  bool chain_settled = false;
  // Chosen on the assumption that no fragment bytes lie between the
  // record's end and the boundary after it: more than one reading fits
  // the bytes, one of them ends exactly there.
  bool inferred = false;
  // Chosen over a reading with a lost type of unknown class because its own
  // types are all known: an assumption too.
  bool typed_guess = false;
  // Where a later cell that begins inside this one overwrote it (a page
  // offset; 0: nowhere). Values from there on are not this record's.
  uint32_t cut_at = 0;
};

struct carved_record : carved_cell {
  std::vector<carved_field> fields;
};

// Offset of field i's value from the record's start.
inline uint64_t field_offset(const carved_record& r, size_t i) {
  uint64_t at = r.header_size;
  for (size_t k = 0; k < i; ++k) at += r.fields[k].size;
  return at;
}

// Whether every field's serial type is known.
inline bool all_types_known(const carved_record& r) {
  return std::all_of(r.fields.begin(), r.fields.end(), [](const carved_field& f) { return f.type_known; });
}

// Copies a record, reusing the capacity of the target's field vector.
inline void assign_record(carved_record* to, const carved_record& from) {
  static_cast<carved_cell&>(*to) = from;
  to->fields.assign(from.fields.begin(), from.fields.end());
}
