// The scan context: everything the stages of one run share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct cell_entry;
struct progress_meter;
struct survivor_map;

struct globals {
  uint8_t debug;             // -d: narrate the scan on standard output
  uint8_t verbose;           // -v: stored, no effect
  const char* input_file;    // path as typed after -i
  const uint8_t* db_origin;  // first byte of the image
  const uint8_t* db_end;     // last byte of the image (not one past it)
  const uint8_t* db_cfp;     // current search position
  const uint8_t* db_page;    // first byte of the current page
  const uint8_t* db_page_end;  // one past the current page, clipped to the image
  uint64_t db_size;          // image size in bytes (64-bit: files over 4 GiB)
  uint32_t page_size;
  uint32_t page_count;
  int64_t page_number;       // 1-based number of the current page
  int32_t start_page;        // stored, no effect
  int32_t end_page;          // stored, no effect
  uint32_t freelist_trunk;
  uint32_t freelist_count;
  int32_t freespace;
  int32_t removed_only;
  uint32_t freespace_minimum;  // stored, no effect
  int32_t cellcount_min;
  int32_t cellcount_max;
  uint32_t rowsize_min;
  uint32_t rowsize_max;
  int32_t dump_blobs;
  uint32_t blob_size_limit;
  int32_t blob_count;
  int32_t fine_search;
  // The decoder's cell table, sized once per run (see row_record.h).
  cell_entry* cell_table;
  uint32_t cell_table_size;
  uint64_t rows_printed;     // rows whose line was written
  // The progress line of a long run, or null when none is shown.
  progress_meter* progress;
  // 1: a second thread works out the fast test's survivors of the pages
  // ahead of the one being searched (the default); 0: every page alone.
  uint8_t scan_ahead;
  // The survivors of the page being searched, or null.
  const survivor_map* survivors;
  // --deep: read the file as the format defines it (deep/deep_run.h).
  int32_t deep;
  int32_t no_inferred;       // --no-inferred: rows read on an assumption are left out
  const char* export_file;   // --export=FILE, or null
  const char* wal_file;      // --wal=PATH or none; null: FILE-wal if it exists
  const char* journal_file;  // --journal=PATH or none; null: FILE-journal if it exists
  const char* as_of_text;    // --as-of=N as given, or null
  int64_t as_of;             // N of --as-of=N (a commit of the log); -1: the last
  // 1: the deep mode stops after the live rows. No option sets it: the
  // benchmark's live-only instrument does, to time the recovery apart.
  uint8_t deep_live_only;
  // 1 once one of the byte scan's limits (--cellcount-min= and the like)
  // was given: they do not combine with --deep.
  int32_t scan_limit_given;
  // Bytes reserved at the end of every page (header offset 20).
  uint8_t reserved_bytes;
  // Blob files that could not be written whole: the run ends with status 2.
  uint64_t blob_failures;
  // The deep mode's outputs (sink/): --table=NAME (repeatable), --out-dir=,
  // --format=, --xlsx=, --no-times, --quiet.
  std::vector<const char*> only_tables;
  const char* out_dir;       // --out-dir=DIR, or null
  const char* format;        // --format=csv|jsonl, or null (csv)
  const char* xlsx_file;     // --xlsx=FILE, or null
  int32_t no_times;          // --no-times: no decoded times
  int32_t quiet;             // --quiet: no summary lines and no damage notes
  // A folder as input (batch/): -j N workers (0: the processor count),
  // --shard=K/N, --merge-inventories OUT..., and the hidden --facts=FILE
  // through which each file's run reports its figures to the batch.
  int32_t jobs;
  const char* shard_text;    // --shard=K/N as given, or null
  uint32_t shard_index;      // K - 1
  uint32_t shard_count;      // N (0: no shards)
  int32_t merge;             // --merge-inventories given
  std::vector<const char*> merge_inputs;  // the OUT folders to join
  const char* facts_file;    // --facts=FILE, or null
};

// Stores the defaults of every setting; returns 0.
int globals_init(globals* g);

// Releases the run's own storage (the cell table). The process end does the
// same; tests and the fuzzer call it between runs.
void globals_release(globals* g);
