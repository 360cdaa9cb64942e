// The row scanner: searches one window of a page for rows.
#pragma once
#include "setup/globals.h"

// Searches [start, page_end) and reports each row it finds to g->report,
// whose receiver decides whether the row is taken; the search steps past a
// taken row. Under -d it narrates through the scan trace. Always returns null.
const uint8_t* find_next_row(globals* g, const uint8_t* start,
                             const uint8_t* page_end, const uint8_t* base,
                             int32_t mode, uint32_t freeblock_size);
