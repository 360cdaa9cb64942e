// One database's deep run in a child process (this program again), so
// that a file that crashes the reader or exhausts its memory fails alone.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "shared/run_options.h"

struct child_job {
  std::string input;       // the database's path
  std::string wal;         // the paired log's path, or "none"
  std::string journal;
  std::string out_dir;     // OUT/<rel>
  std::string facts;       // where the child writes its figures
  std::string errors;      // where its standard error goes
};

struct child_result {
  bool ok = false;         // exit status 0
  std::string error;       // its "ERROR: " line, or how it ended
  std::map<std::string, std::string> facts;  // from the facts file
  std::vector<std::string> notes;
};

// The child's arguments: the per-file options plus those of the batch that
// shape the outputs (--format=, --table=, --no-times, --no-inferred,
// --export= inside the output folder).
std::vector<std::string> child_arguments(const run_options& opt, const child_job& job);

// Runs the child and waits for it; reads its facts and its error.
child_result run_child(const run_options& opt, const child_job& job);
