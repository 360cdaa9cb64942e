#include "setup/globals.h"

#include <cstdlib>

int globals_init(globals* g, const run_options& options) {
  *g = globals{};  // also zeroes the fields that main fills later
  g->opt = options;
  g->page_size = options.page_size;  // 0: read from the header
  g->walk.page_number = 1;
  return 0;
}

int globals_init(globals* g) {
  run_options defaults;
  run_options_init(&defaults);
  return globals_init(g, defaults);
}

void globals_release(globals* g) {
  free(g->cell_table);
  g->cell_table = nullptr;
  g->cell_table_size = 0;
}
