#include "setup/globals.h"

#include <cstdlib>

int globals_init(globals* g) {
  *g = globals{};  // also zeroes the fields that main fills later
  g->debug = 0;
  g->verbose = 0;
  g->input_file = nullptr;
  g->db_cfp = nullptr;
  g->db_page = nullptr;
  g->page_size = 0;
  g->page_count = 0;
  g->page_number = 1;
  g->start_page = 0;
  g->end_page = 0;
  g->freespace = 0;
  g->removed_only = 0;
  g->freespace_minimum = 0xFFFFFFFFu;
  g->cellcount_min = 2;
  g->cellcount_max = 1000;
  g->rowsize_min = 10;
  g->rowsize_max = 0xFFFFFFFFu;
  g->dump_blobs = 1;
  g->blob_size_limit = 0xFFFFFFFFu;
  g->blob_count = 0;
  g->fine_search = 0;
  g->cell_table = nullptr;
  g->cell_table_size = 0;
  g->rows_printed = 0;
  g->progress = nullptr;
  g->scan_ahead = 1;
  g->survivors = nullptr;
  g->deep = 0;
  g->export_file = nullptr;
  g->deep_live_only = 0;
  g->wal_file = nullptr;
  g->as_of = -1;  // no --as-of=: the last commit (the other deep-mode options start at zero)
  g->journal_file = nullptr;
  g->scan_limit_given = 0;
  g->reserved_bytes = 0;
  g->blob_failures = 0;
  return 0;
}

void globals_release(globals* g) {
  free(g->cell_table);
  g->cell_table = nullptr;
  g->cell_table_size = 0;
}
