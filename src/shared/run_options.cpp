#include "shared/run_options.h"

int run_options_init(run_options* o) {
  *o = run_options{};  // every option not named below starts at zero
  o->freespace_minimum = 0xFFFFFFFFu;
  o->cellcount_min = 2;
  o->cellcount_max = 1000;
  o->rowsize_min = 10;
  o->rowsize_max = 0xFFFFFFFFu;
  o->dump_blobs = 1;
  o->blob_size_limit = 0xFFFFFFFFu;
  o->scan_ahead = 1;
  o->as_of = -1;  // no --as-of=: the last commit
  return 0;
}
