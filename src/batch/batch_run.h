// The deep mode on a folder: every SQLite file of the tree read in a run
// of its own, its outputs in OUT/<path>/, and OUT/inventory.csv and
// OUT/inventory.sqlite listing every file seen.
#pragma once
#include "shared/run_options.h"

// True when the input is a folder.
bool input_is_folder(const run_options& opt);

// -j and --shard= on a single file: false after an "ERROR: " line.
bool check_single_file_options(const run_options& opt);

// Runs the batch; the exit status: 0 when every file was read, 2 when some
// failed, 1 for a usage or output error (reported).
int batch_main(const run_options* opt);

// --merge-inventories OUT... --out-dir=CASE: copies each OUT's output
// folders into the new CASE and writes the joined inventory, sorted by
// path. Returns 0, or 1 after an "ERROR: " line.
int merge_main(const run_options* opt);
