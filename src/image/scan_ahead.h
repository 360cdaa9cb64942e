// The scan-ahead worker: a second thread that works out, page by page and
// ahead of the page walker, the fast test's survivors of each page's search
// window. The walker still decodes and prints every row itself, in order;
// the worker only spares it the positions that the fast test rejects. Pages
// whose window the worker cannot foresee get no map and are searched as
// before.
#pragma once
#include <cstdint>

#include "recognition/survivor_map.h"
#include "setup/globals.h"

struct scan_ahead;

// Starts the worker for the pages at offsets first_offset, first_offset +
// page_size, ... up to the image's last byte. Null when the run goes without
// it: -d, the fast path built out, g->scan_ahead off, fewer than two pages
// to search, or no thread to be had.
scan_ahead* scan_ahead_start(const globals* g, uint64_t first_offset);

// The map of the index-th page (0 for the page at first_offset), once the
// worker has made it; null when that page has none.
const survivor_map* scan_ahead_page(scan_ahead* s, uint64_t index);

// The walker is done with the index-th page: its slot may be reused.
void scan_ahead_done(scan_ahead* s, uint64_t index);

// Stops the worker, waits for it and frees everything; s may be null.
void scan_ahead_stop(scan_ahead* s);
