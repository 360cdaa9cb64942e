// The row candidate decoder: could a table-leaf cell begin at this byte?
#pragma once
#include "recognition/row_record.h"

constexpr int32_t mode_standard = 0;
constexpr int32_t mode_freespace = 1;

// Returns 0 to reject; 1 for a row in standard mode; in free-space mode the
// bytes the record takes counting the 4 overwritten bytes before it (>= 6).
// Never reads outside the image.
int32_t decode_row(const globals* g, const uint8_t* position,
                   const uint8_t* page_end, row_record* row, int32_t mode,
                   uint32_t freeblock_size);
