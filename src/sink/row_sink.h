// Where recovered rows go: one interface, a CSV sink for standard output and
// an SQLite sink for --export. Sources of rows (the b-tree walk, carved free
// space, the log and the journal) only ever talk to this interface.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/value.h"
#include "schema/table_def.h"

enum class row_status : uint8_t { live, deleted, superseded, uncommitted };
enum class row_source : uint8_t { btree, freeblock, unallocated, freelist, lost, wal, journal };
// What the transaction that never committed (a hot journal, frames after
// the last commit) did to a row of the current state.
enum class row_pending : uint8_t { none, deleted, updated };
// How sure a row's reading is: a whole cell as the library wrote it; a cell
// whose lost header bytes were rebuilt where the bytes admit one reading
// only; or one rebuilt on an assumption (reading_note says which) that
// exactly one reading satisfies.
enum class row_reading : uint8_t { cell, rebuilt, inferred };

const char* status_name(row_status status);
const char* source_name(row_source source);
const char* reading_name(row_reading reading);

struct deep_row {
  const table_def* table;  // null: a whole record that fits no table
  row_status status;
  row_source source;
  row_reading reading;
  const char* reading_note;  // the assumption of an inferred row, else null
  uint32_t page;           // 1-based page number
  uint64_t offset;         // the cell's first byte in its file
  bool has_rowid;          // false: the rowid was not recovered (or the table has none)
  int64_t rowid;
  // One value per column in declared order; for a row without a table, the
  // record's values in order. value_kind::unknown prints as an empty field.
  std::span<const value_view> values;
  // The write-ahead log's commit the row was read from: 0 for the database
  // file, -1 for none (a journal, a frame of no commit).
  int64_t commit = -1;
  row_pending pending = row_pending::none;
  // Per value: the file a blob was written to (--blob-size-limit=), empty
  // when none; an empty span when no blob of the row went to a file.
  std::span<const std::string> blob_files = {};
};

// The number of rows one table gave, by status and source.
struct table_count {
  const table_def* table;    // null: records of no table
  row_status status;
  row_source source;
  uint64_t rows;
};

// One blob value: where it lies, where it went and what it holds.
struct blob_summary {
  const table_def* table;    // null: a record of no table
  std::string_view key;      // the rowid, or page_offset when it has none
  std::string_view column;
  std::string_view file;     // the blob file's name, empty when printed inline
  uint64_t size;
  std::string_view sha256;   // lower-case hex
  std::string_view media_type;
};

// One page of the page map, as the export records it.
struct page_summary {
  uint32_t page;
  const char* role;          // page_role_name()
  std::string_view owner;    // the owning table's name, empty when none
  uint32_t free_bytes;       // bytes of the page that no live cell uses
  uint32_t rows_recovered;   // rows that are not live printed from this page
};

// One frame of the write-ahead log, as the export records it.
struct frame_summary {
  uint32_t frame;            // 1-based, in file order
  uint64_t offset;           // of the frame header in the log
  uint32_t page;
  uint32_t commit_size;      // database size after a commit frame, else 0
  uint32_t salt1, salt2;
  bool valid;                // salts match and the checksum chain holds
  bool used;                 // the current state reads this frame's page
  uint32_t commit;           // the commit it belongs to; 0: none, see below
  const char* no_commit;     // without a commit: "uncommitted", "older
                             // generation" or "invalid"; else null
};

// One commit of the write-ahead log (commit 0: the database file).
struct commit_summary {
  uint32_t commit;
  uint32_t first_frame, last_frame;  // 0 for commit 0
  uint32_t salt1, salt2;
  uint32_t pages;            // the database's size in pages after it
};

// A file the run read, with its SHA-256 (lower-case hex).
struct input_file_facts {
  std::string role;          // "database", later "wal" and "journal"
  std::string path;
  uint64_t size = 0;
  std::string sha256;
};

// The facts of the run, as the export records them.
struct run_facts {
  std::string version;       // the tool's, e.g. "0.7"
  std::vector<input_file_facts> files;  // the database first
  std::string encoding;      // "UTF-8", "UTF-16le" or "UTF-16be"
  uint32_t page_size = 0;
  std::string options;       // the command line's arguments after the program name
  std::string started;       // UTC, ISO 8601
  std::string finished;
};

class row_sink {
 public:
  virtual ~row_sink() = default;
  // Announces a table before its rows (every table of the schema is
  // announced, also those without rows).
  virtual void table(const table_def& table) { (void)table; }
  // One row. Rows of one table need not come together.
  virtual void row(const deep_row& row) = 0;
  // After the rows: the page map, one call per page in page order.
  virtual void page(const page_summary& page) { (void)page; }
  // After the rows: the log's frames, in file order, then its commits.
  virtual void frame(const frame_summary& frame) { (void)frame; }
  virtual void commit(const commit_summary& commit) { (void)commit; }
  // After the rows: every blob value (when blobs are described), the rows
  // by table, status and source, and the notes written on standard error
  // (or left out there by --quiet).
  virtual void blob(const blob_summary& blob) { (void)blob; }
  virtual void count(const table_count& count) { (void)count; }
  virtual void note(std::string_view text) { (void)text; }
  // Ends the output; returns 0, or 1 after reporting a failure on standard
  // error (one line beginning "ERROR: ").
  virtual int finish(const run_facts& facts) = 0;
};
