// Which table a record found in free space belongs to: the page's own table
// (or index) when its schema fits, else the one table whose schema fits best
// by column count and types (on a page of no known tree, an index cell may
// also be an entry of an index). A whole, consistent table cell that fits no
// table is kept without one; anything else is not a row.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "recover/carve_region.h"
#include "recover/index_defs.h"
#include "schema/schema.h"

// Index entries are judged under ids of their own: index i is index_base + i.
constexpr int32_t index_base = 1 << 20;

// The schema as the search sees it, by table index, and its indexes.
struct carve_tables {
  std::vector<table_rules> rules;
  std::vector<cell_format> formats;
  std::vector<uint8_t> searchable;    // a parsed table with a b-tree of its own
  // Tables whose columns have no types (sqlite_sequence, a table declared
  // without them): any values fit, so they take records only from their
  // own pages.
  std::vector<uint8_t> untyped;
  std::vector<int32_t> by_format[2];  // searchable tables, of table and of index cells
  std::vector<table_rules> index_rules;  // by index id - index_base
  std::vector<int32_t> known_indexes;    // ids of the indexes whose key is known by column
  std::vector<std::string> names;        // table names, for sqlite_sequence's rows
  int32_t sequence = -1;                 // sqlite_sequence, -1 when none
};

// Builds the search's view of the schema; fewest_fields (by table index)
// lowers a table's minimum record width where live rows were shorter.
void build_carve_tables(const schema& db_schema, const std::vector<uint32_t>& fewest_fields,
                        carve_tables* out);

// Adds one table (a dropped table recovered from sqlite_master).
void add_carve_table(const table_def& table, carve_tables* out);

// Adds the indexes: an entry holds the key values, then the rowid.
void add_carve_indexes(std::span<const index_def> indexes, carve_tables* out);

// Whether the record's values fit the table's rules; its score (higher is a
// closer fit) in *score.
bool record_fits(const carve_settings& settings, const table_rules& rules, const carved_record& rec,
                 byte_view page, int* score);

// Whether the values of a sqlite_master record (type, name, tbl_name,
// rootpage, sql) read as a schema row: a known type, and a statement that
// begins with CREATE.
bool schema_row_plausible(std::span<const value_view> values);

// Whether some value carries information: a record of NULLs, zeros and
// zero-filled texts and blobs is as likely zeroed space as a row.
bool record_has_substance(std::span<const value_view> values);

// Whether a record is whole and plausible enough to stand without a table.
bool plausible_without_table(const carve_settings& settings, const carved_record& rec, byte_view page);

// The record_judge of the recovery: attribution by the rules above. The
// page's owner is set before each page; found() is the caller's.
class table_judge : public record_judge {
 public:
  table_judge(const carve_tables* tables, const carve_settings* settings)
      : tables_(tables), settings_(settings) {}
  void set_owner(int32_t owner);
  // While set, untyped tables are candidates too: the first look at a free
  // page asks which one tree all its whole cells fit.
  void tallying(bool on) { tallying_ = on; }
  // No cell of the page is rebuilt: only whole cells are read.
  void rebuild_none() { rebuild_.clear(); }
  int32_t judge(const carved_record& rec, byte_view page) override;
  std::span<const int32_t> rebuild_tables() override { return rebuild_; }
  const table_rules& rules(int32_t table) override {
    return table >= index_base ? tables_->index_rules[table - index_base] : tables_->rules[table];
  }
  cell_format format_of(int32_t table) override {
    return table >= index_base ? cell_format::index : tables_->formats[table];
  }

 protected:
  bool fits(int32_t t, const carved_record& rec, byte_view page, int* score);
  const carve_tables* tables_;
  const carve_settings* settings_;
  int32_t owner_ = -1;
  bool tallying_ = false;
  std::vector<int32_t> rebuild_;
  std::vector<value_view> values_;
};

// A judge for a first look at a page whose owner no tree gives (a freelist
// or lost page): it rebuilds nothing and prints nothing, and tallies the
// tables of the whole records it is shown. A b-tree page holds the cells of
// one tree, so whole records that all fit one table name the page's old
// owner, and the page's overwritten cells can then be rebuilt as that
// table's.
class owner_tally : public record_judge {
 public:
  explicit owner_tally(table_judge* judge) : judge_(judge) {}
  int32_t judge(const carved_record& rec, byte_view page) override {
    judge_->tallying(true);
    const int32_t table = judge_->judge(rec, page);
    judge_->tallying(false);
    return table;
  }
  std::span<const int32_t> rebuild_tables() override { return {}; }
  const table_rules& rules(int32_t table) override { return judge_->rules(table); }
  cell_format format_of(int32_t table) override { return judge_->format_of(table); }
  void found(const carved_record& rec, int32_t table, region_kind kind) override;
  // The one table of at least two whole records, or -1.
  int32_t owner() const { return table_ >= 0 && count_ >= 2 ? table_ : -1; }

 private:
  table_judge* judge_;
  int32_t table_ = -1;  // -2 once two tables were seen
  uint32_t count_ = 0;
};
