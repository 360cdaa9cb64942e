// The --export database: a new SQLite database, written with the library,
// that holds every row the run recovered and the run's record.
//
// Its tables (named as export_names.h describes; no column has a type, so
// every value keeps its storage class):
//   one per source table  sarvek_status, sarvek_source, sarvek_page,
//                         sarvek_offset, sarvek_rowid, sarvek_unrecovered,
//                         then the source's columns. A value that was not
//                         recovered, and a missing rowid, are NULL; so are
//                         the columns after the last value of a short row.
//                         sarvek_unrecovered names the columns whose values
//                         were not recovered, each in double quotes (an
//                         inner quote doubled), separated by commas; empty
//                         when every value was, so that a lost value is not
//                         taken for a stored NULL.
//   lost_and_found        rows of no table: sarvek_status to sarvek_rowid,
//                         sarvek_fields (the number of values),
//                         sarvek_unrecovered (c0, c1, ...), then c0, c1,
//                         ..., added as longer records come.
//   sarvek_pages          page, role, owner (NULL when none), free_bytes,
//                         rows_recovered.
//   sarvek_frames         frame, offset, page, commit_size, salt1, salt2,
//                         valid, used (0 or 1); only when frames are given.
//   sarvek_run            one row: version, database_path, database_size,
//                         database_sha256, encoding, page_size, options,
//                         started, finished, wal_path, wal_size, wal_sha256,
//                         journal_path, journal_size, journal_sha256 (NULL
//                         for a file the run did not read). A path or option
//                         text that is not valid UTF-8 is kept as a blob of
//                         its bytes.
//   sarvek_extra_values   table_name, table_rowid, field, value: values that
//                         do not fit the library's limit of columns per table
//                         (field: the value's 0-based position in its row);
//                         only when there are such values.
#pragma once
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sink/export_names.h"
#include "sink/export_table.h"
#include "sink/row_sink.h"

class sqlite_sink final : public row_sink {
 public:
  // Refuses an existing file (a symbolic link included), creates a new
  // file beside it (PATH.partial-XXXXXX, mode 0600) and opens that as a new
  // database in one transaction. On failure writes one "ERROR: " line to
  // standard error and returns null.
  static std::unique_ptr<sqlite_sink> open(const std::string& path);

  // Without finish(), the rows are rolled back and the partial file removed.
  ~sqlite_sink() override;
  sqlite_sink(const sqlite_sink&) = delete;
  sqlite_sink& operator=(const sqlite_sink&) = delete;

  // Tables are known by address: each must stay where it is until finish().
  void table(const table_def& table) override;
  void row(const deep_row& row) override;
  void page(const page_summary& page) override;
  void frame(const frame_summary& frame) override;
  void commit(const commit_summary& commit) override;
  // Writes sarvek_run, commits, closes and renames the partial file to the
  // export's name (never over a file that took the name meanwhile).
  int finish(const run_facts& facts) override;

  // A write failed; later rows are ignored and finish() reports it.
  bool failed() const { return !error_.empty(); }

 private:
  sqlite_sink(std::string path, std::string partial)
      : path_(std::move(path)), partial_(std::move(partial)) {}
  bool start();
  bool fail();
  export_table* table_for(const table_def& def);
  bool store_extra_values(const export_table& table, const deep_row& row);
  void bind_fixed(sqlite3_stmt* insert, const deep_row& row, bool lost);
  bool write_run(const run_facts& facts);
  void close_db();
  bool publish();
  void discard_partial();

  std::string path_;
  std::string partial_;  // the file being written; empty once renamed or removed
  sqlite3* db_ = nullptr;
  std::string error_;  // the first failure
  bool finished_ = false;
  uint32_t column_limit_ = 0;  // the library's columns per table
  name_set table_names_;
  std::deque<export_table> tables_;
  std::unordered_map<const table_def*, export_table*> by_def_;
  const table_def* last_def_ = nullptr;  // rows of one table tend to come together
  export_table* last_table_ = nullptr;
  export_table* lost_ = nullptr;
  statement_ptr pages_, frames_, commits_, extra_values_;
  std::vector<std::string> scratch_;  // texts converted to UTF-8, one per column
  std::string unrecovered_;           // the row's sarvek_unrecovered, reused
};
