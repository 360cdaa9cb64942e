// Rebuilding the start of a cell whose first four bytes a freeblock header
// overwrote: the payload length, the rowid and often the header-size byte
// and the first serial type are gone. What the table's schema and the page
// fix (the column count, a rowid alias stored as NULL, the types each column
// allows, where the record must end) decides the missing bytes where exactly
// one reading fits; a value whose type stays open is left unknown.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "recover/carved_record.h"
#include "recover/column_rules.h"
#include "format/bytes.h"

// The overflow chain a rebuilt record's first overflow page begins, for
// settling a lost size that the record's end on the page does not give.
class chain_reader {
 public:
  virtual ~chain_reader() = default;
  // The payload data of the chain's pages in order when every page is free
  // (in no live tree) and the last links nowhere within max_pages; empty
  // otherwise. Valid until the next call.
  virtual byte_view free_chain(uint32_t first_page, uint32_t max_pages) = 0;
};

struct rebuild_input {
  byte_view page;
  uint32_t pos;            // where the cell began; bytes pos..pos+3 are lost
  uint32_t hi;             // the record must end at or before this offset
  cell_format format;
  const table_rules* rules;
  uint32_t usable;
  text_encoding encoding;
  uint32_t schema_format;
  // Offsets at which the record may end (the region's end less up to three
  // fragment bytes, the start of a following record). A reading whose
  // length the header does not fix is tried against each of them.
  std::span<const uint32_t> end_hints;
  // The hints with no fragment bytes before what gives them: a freed cell
  // is far more often followed at once than after one to three bytes.
  std::span<const uint32_t> exact_ends;
  // Where the record's overflow chain is read from; null: a lost size of an
  // overflowing record stays open.
  chain_reader* chains = nullptr;
  // A later cell begins at hi: a reading whose types all survive may run on
  // past it, cut there (its values from hi on are not this record's).
  bool cut_at_hi = false;
};

// The readings of the cell at in.pos that fit, into *readings (cleared).
void rebuild_readings(const rebuild_input& in, std::vector<carved_record>* readings);

// Chooses the one reading that ends at a hint; of several, the one that
// ends at an exact hint, marked inferred. False when there is none or the
// choice stays open.
bool choose_reading(const rebuild_input& in, std::vector<carved_record>& readings,
                    carved_record* out);
