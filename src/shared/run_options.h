// The run's options: filled once by the command line, read-only afterwards.
// Both modes read them; the byte scan keeps a copy in its scan state.
#pragma once
#include <cstdint>
#include <vector>

struct run_options {
  uint8_t debug;             // -d: narrate the scan on standard output
  uint8_t verbose;           // -v: stored, no effect
  const char* input_file;    // path as typed after -i
  uint32_t page_size;        // --page-size=N, or 0: the header's
  int32_t start_page;        // stored, no effect
  int32_t end_page;          // stored, no effect
  int32_t freespace;
  int32_t removed_only;
  uint32_t freespace_minimum;  // stored, no effect
  int32_t cellcount_min;
  int32_t cellcount_max;
  uint32_t rowsize_min;
  uint32_t rowsize_max;
  int32_t dump_blobs;
  uint32_t blob_size_limit;
  int32_t fine_search;
  // 1: a second thread works out the fast test's survivors of the pages
  // ahead of the one being searched (the default); 0: every page alone.
  uint8_t scan_ahead;
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

// Stores the default of every option; returns 0.
int run_options_init(run_options* o);
