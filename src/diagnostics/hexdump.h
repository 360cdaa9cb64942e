// The diagnostic dumps.
#pragma once
#include <cstdint>
#include "setup/globals.h"

// Dumps length bytes from data with a heading naming label; returns 0.
int hexdump(const uint8_t* data, uint16_t length, const char* label);

// Clips a dump window of length bytes from data to [lo, hi): the count of
// bytes that may be read from data, 0 when data lies outside.
uint64_t dump_clip(const uint8_t* data, uint64_t length, const uint8_t* lo,
                   const uint8_t* hi);

// Dumps the walk's current page (as far as the image holds it) and
// flushes standard output.
void raw_page_dump(const globals* g);
