// The recovery of deleted rows page by page: what a search finds and how it
// becomes a printed row.
#pragma once
#include <cstdint>
#include <vector>

#include "recover/regions.h"
#include "recover/attribution.h"
#include "deep/deep_state.h"
#include "deep/flat_set.h"

// The assumption of an inferred reading.
inline constexpr char no_fragment_note[] =
    "no fragment bytes between the record's end and the next cell or freeblock header";

// How sure a found record's reading is.
inline constexpr char known_types_note[] =
    "of the readings that fit, the one whose every serial type is known";

// The assumption of a lost size read off a free overflow chain: an
// overflow page taken in the transaction that freed it keeps the bytes of
// its last use after the new payload.
inline constexpr char chain_end_note[] =
    "no bytes of an earlier use after the payload on the overflow chain's last page";

// The assumption a found record was read on, or null.
inline const char* assumption_of(const carved_record& rec) {
  if (rec.inferred) return no_fragment_note;
  if (rec.chain_settled) return chain_end_note;
  return rec.typed_guess ? known_types_note : nullptr;
}

inline row_reading reading_of(const carved_record& rec) {
  if (rec.inferred || rec.typed_guess || rec.chain_settled) return row_reading::inferred;
  return rec.rebuilt ? row_reading::rebuilt : row_reading::cell;
}

// The source a found record prints with.
inline row_source source_of(page_role role, region_kind kind, page_origin origin) {
  if (origin == page_origin::wal) return row_source::wal;
  if (origin == page_origin::journal) return row_source::journal;
  switch (role) {
    case page_role::freelist_trunk:
    case page_role::freelist_leaf: return row_source::freelist;
    case page_role::unreached: return row_source::lost;
    default: return kind == region_kind::freeblock ? row_source::freeblock : row_source::unallocated;
  }
}

// A record the search found, kept until its page's turn to be printed (the
// search runs on two threads, the printing in page order on one).
struct found_record {
  carved_record rec;
  int32_t table = -1;
  region_kind kind = region_kind::gap;
  uint32_t page = 0;
  uint64_t page_offset = 0;
  byte_view bytes;
  page_role role = page_role::unreached;
  page_origin origin = page_origin::db;
  bool chain_note = false;  // no record: the page's freeblock chain was damaged
  bool older = false;       // from an older image: its source is older_source
  row_source older_source = row_source::wal;
};

// The search of one page or page image for deleted rows, and their
// printing: the record_judge the carving asks, with attribution, the checks
// against live and printed rows, and the overflow chains of deleted rows.
class recovery : public table_judge, public chain_reader {
 public:
  recovery(deep_state* s, carve_tables* tables, const carve_settings* settings)
      : table_judge(tables, settings), s_(s), tables_mut_(tables), used_(s->map.size(), 0) {}

  void recover_page(uint32_t number);
  void recover_image(const older_image& image);
  void found(const carved_record& rec, int32_t table, region_kind kind) override;
  chain_reader* chains() override { return this; }
  byte_view free_chain(uint32_t first_page, uint32_t max_pages) override;
  // While set, found() keeps what it finds here instead of printing it.
  void defer_to(std::vector<found_record>* finds, size_t* count) {
    defer_ = finds;
    deferred_ = count;
  }
  // Prints a kept record (or its note) as found() would have.
  void print(const found_record& f);
  // Prints the index entries kept, after every row: those that no live
  // entry and no printed row explains.
  void print_index_entries();
  std::vector<schema_object>& deleted_schema_rows() { return schema_rows_; }
  // Whether a free page is an old leaf of sqlite_master: an old cell of it
  // reads as a schema row.
  bool old_schema_leaf(uint32_t number);
  carve_tables* tables() { return tables_mut_; }

 private:
  void carve_btree_page(const btree_page& page, bool old, record_judge* judge);
  static uint32_t past_old_pointers(const btree_page& page, const page_region& region);
  void older_row(const btree_page& page, uint32_t offset, const older_image& image);
  int32_t owner_of(uint32_t number, const btree_page& page) const;
  bool index_entries_page(uint32_t number) const;
  void carve_whole(byte_view bytes, uint32_t from, record_judge* judge);
  byte_view payload_of(const carved_record& rec, uint32_t* broken_at);
  uint32_t release_chain(const carved_record& rec);
  bool claimed_by_copy(const carved_record& rec, int32_t table, uint32_t broken_at);
  void decode_fields(const carved_record& rec, byte_view payload, std::vector<value_view>* values) const;
  bool no_longer_live(const carved_record& rec, int32_t table, std::span<const value_view> values) const;
  bool worth_printing(const carved_record& rec, int32_t table, std::span<const value_view> values,
                      byte_view payload, uint64_t* hash) const;
  std::vector<value_view> search_values_;  // the searching thread's own
  // Whether rows of `table` (or of the record's cell format, without one)
  // have rowids.
  bool keyed_table(int32_t table, const carved_record& rec) const;

  deep_state* s_;
  carve_tables* tables_mut_;
  std::vector<uint8_t> used_;
  carve_scratch scratch_;
  std::vector<page_region> regions_;
  std::vector<cell_extent> cells_;
  std::vector<cell_extent> taken_;
  std::vector<uint8_t> chain_;
  // The last free chain read for a rebuilt record, by its first page and
  // the most pages it was read for (a rebuilt cell asks again per reading).
  std::vector<uint8_t> free_chain_;
  uint32_t free_chain_first_ = 0;
  uint32_t free_chain_pages_ = 0;
  // Records whose chains printing took, by local part and first page.
  flat_set chain_claims_;
  std::vector<schema_object> schema_rows_;
  uint32_t page_ = 0;
  uint64_t page_offset_ = 0;
  byte_view bytes_;
  page_role role_ = page_role::unreached;
  page_origin origin_ = page_origin::db;
  // Set while an older image is searched: its rows' source.
  bool older_ = false;
  row_source older_source_ = row_source::wal;
  std::vector<found_record>* defer_ = nullptr;
  size_t* deferred_ = nullptr;
  void chain_note(uint32_t page);
  found_record* next_deferred();
  void note_overlap(const carved_record& rec);
  void keep_schema_row(const carved_record& rec, byte_view payload, std::span<const value_view> values);
  bool live_row_explains(const index_def& def, int32_t index, std::span<const value_view> entry_key,
                         bool has_rowid, int64_t rowid, uint64_t keyed);
  void keep_index_entry(const carved_record& rec, int32_t index, region_kind kind);
  void print_index_entry(const found_record& f);
  std::vector<found_record> index_finds_;
};
