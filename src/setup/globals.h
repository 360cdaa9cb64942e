// The byte scan's state: its copy of the options, the image, the walker's
// position and the outputs' counters. Only the byte scan includes it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "recognition/row_report.h"
#include "shared/run_options.h"
#include "shared/run_output.h"

struct cell_entry;
struct survivor_map;

// Where the page walker is. Only the walker moves it.
struct walk_position {
  const uint8_t* page;       // first byte of the current page
  const uint8_t* page_end;   // one past the current page, clipped to the image
  const uint8_t* cfp;        // current search position
  int64_t page_number;       // 1-based number of the current page
};

struct globals {
  run_options opt;           // set before the walk; nothing in the walk writes it
  run_output out;            // rows printed, blob files, the progress line
  const uint8_t* db_origin;  // first byte of the image
  const uint8_t* db_end;     // last byte of the image (not one past it)
  uint64_t db_size;          // image size in bytes (64-bit: files over 4 GiB)
  uint32_t page_size;        // --page-size= or the header's
  uint32_t page_count;
  walk_position walk;        // the page walker's; image_read_header places it at the start
  uint32_t freelist_trunk;
  uint32_t freelist_count;
  // The decoder's cell table, sized once per run (see row_record.h).
  cell_entry* cell_table;
  uint32_t cell_table_size;
  // The survivors of the page being searched, or null.
  const survivor_map* survivors;
  // The receiver of the rows the search finds (set by the page walker).
  row_report report;
  // Bytes reserved at the end of every page (header offset 20).
  uint8_t reserved_bytes;
};

// Stores the default options and an empty state; returns 0.
int globals_init(globals* g);

// The same with the options given (parsed by the command line).
int globals_init(globals* g, const run_options& options);

// Releases the run's own storage (the cell table). The process end does the
// same; tests and the fuzzer call it between runs.
void globals_release(globals* g);
