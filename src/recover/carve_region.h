// Searches one free region of a page for records: whole cells at every
// position, and in a freeblock, cells whose start the block header (or an
// older one) overwrote, rebuilt from the schema. Found records do not
// overlap; each is handed to the judge's found().
#pragma once
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "recover/carved_record.h"
#include "recover/cell_parse.h"
#include "recover/column_rules.h"
#include "recover/header_rebuild.h"
#include "recover/regions.h"

// The policy the search asks: which tables a record may belong to, and what
// becomes of it. Implemented by the deep mode's attribution.
class record_judge {
 public:
  virtual ~record_judge() = default;
  // A whole record: the table it is a row of (>= 0), -1 for a whole record
  // of no table, -2 when it is not taken.
  virtual int32_t judge(const carved_record& rec, byte_view page) = 0;
  // The tables whose cells a freeblock of the page may hold (rebuilding).
  virtual std::span<const int32_t> rebuild_tables() = 0;
  virtual const table_rules& rules(int32_t table) = 0;
  virtual cell_format format_of(int32_t table) = 0;
  // A record taken, with its table (-1: none).
  virtual void found(const carved_record& rec, int32_t table, region_kind kind) = 0;
  // Where a rebuilt record's overflow chain is read; null: nowhere.
  virtual chain_reader* chains() { return nullptr; }
};

struct carve_settings {
  cell_limits limits;
  text_encoding encoding;
  uint32_t schema_format;
};

// Buffers reused from region to region.
struct carve_scratch {
  page_region outer{};                   // the region being searched
  uint32_t anchored_until = 0;           // its anchors are known below this offset
  carved_record probe;
  carved_record record;
  std::vector<carved_record> readings;
  std::vector<carved_record> chosen;
  std::vector<uint32_t> anchors;         // whole cells
  // Old freeblock headers, as (end of their block, position).
  std::vector<std::pair<uint32_t, uint32_t>> old_headers;
  std::vector<uint32_t> past_ends;       // ends of old headers past a block's end
  // A record cut at a region's end is looked for only where later cells
  // can have been written: on pages in use.
  bool cut_tails = true;
  // The first cell cut at the region's end found searching from cut_from
  // (0: none), so that each position is read once.
  uint32_t cut_from = UINT32_MAX;
  uint32_t cut_start = 0;
  std::vector<uint32_t> hints;
  std::vector<uint32_t> exact;
  // The cell pointer array of a page in use (empty otherwise): where its
  // live cells begin, read into live_starts when first asked.
  byte_view live_pointers;
  std::vector<uint32_t> live_starts;
  bool live_starts_read = false;
};

// Sets the page whose live cells bound old freeblocks: its cell pointer
// array (empty for a page not in use).
inline void set_live_pointers(carve_scratch* scratch, byte_view pointers) {
  scratch->live_pointers = pointers;
  scratch->live_starts.clear();
  scratch->live_starts_read = false;
}

// Searches the region for cells of the given formats.
void carve_region(const carve_settings& settings, byte_view page, const page_region& region,
                  std::span<const cell_format> formats, record_judge* judge, carve_scratch* scratch);

// Reads the cell an old cell pointer gives, at `offset` of a page whose old
// header says `format`; hands it on when it is whole and judged a row.
void carve_old_cell(const carve_settings& settings, byte_view page, uint32_t offset, uint32_t hi,
                    cell_format format, record_judge* judge, carve_scratch* scratch);
