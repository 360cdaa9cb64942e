// What each file of the tree is and what is read with what: databases get
// their logs by name (X-wal, X-journal), checked by content; the rest is
// listed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "batch/file_scan.h"
#include "batch/inventory.h"
#include "batch/tree_walk.h"

struct planned_file {
  tree_entry entry;
  file_scan scan;
  inventory_record record;   // kind, pairing and notes filled by the plan
  int32_t wal = -1;          // index of the paired write-ahead log, for a database
  int32_t journal = -1;      // index of the paired rollback journal
  int32_t database = -1;     // index of the database, for a paired log
  bool run = false;          // a deep run reads it (a database, an orphan log)
  bool orphan = false;       // a log read without its database
};

// The name a log's database would have ("X" for "X-wal"), or empty.
std::string log_base(const std::string& rel, const char** suffix = nullptr);

// Keeps the files of share `index` of `count` (by a stable hash of the
// path; a file named as a log goes with the file it is named after).
std::vector<tree_entry> shard_entries(std::vector<tree_entry> entries, uint32_t index, uint32_t count);

// Sets every file's kind, pairing and notes from what the scan found.
void plan_files(std::vector<planned_file>* files);
