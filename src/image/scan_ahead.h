// The scan-ahead worker: a second thread that works out, page by page and
// ahead of the page walker, the fast test's survivors of each page's search
// window. The walker still decodes and prints every row itself, in order;
// the worker only spares it the positions that the fast test rejects. Pages
// whose window the worker cannot foresee, and pages it has not reached when
// the walker gets there, get no map and are searched as before.
#pragma once
#include <cstdint>

#include "recognition/survivor_map.h"
#include "setup/globals.h"

struct scan_ahead;

// Starts the worker for the pages at offsets first_offset, first_offset +
// page_size, ... up to the image's last byte. Null when the run goes without
// it: -d, --freespace, the fast path built out, g->opt.scan_ahead off, fewer
// than two pages to search, a single processor, or no thread to be had.
scan_ahead* scan_ahead_start(const globals* g, uint64_t first_offset);

// The map of the index-th page (0 for the page at first_offset) if the
// worker has made it by now; null otherwise. Never waits.
const survivor_map* scan_ahead_page(scan_ahead* s, uint64_t index);

// The walker is done with the index-th page: its slot may be reused.
void scan_ahead_done(scan_ahead* s, uint64_t index);

// The map of the window that the walker searches on the page at offset,
// into map (whose bits hold survivor_words(page_size) words); false when
// that window cannot be told from the page alone or gets no map. g holds
// the run's settings and image, with the cell table reserved.
bool scan_ahead_plan(const globals* g, uint64_t offset, survivor_map* map);

// Stops the worker, waits for it and frees everything; s may be null.
void scan_ahead_stop(scan_ahead* s);
