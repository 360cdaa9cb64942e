// The page walker: visits every page and searches each one for rows.
#pragma once
#include "setup/globals.h"

void walk_pages(globals* g);

// Makes the walker the receiver of the rows the search finds (g->report):
// it applies --removed-only, prints each row and flushes standard output.
// walk_pages does this itself; tests that search a window directly call it.
void walker_attach(globals* g);
