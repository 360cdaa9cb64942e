// Row output: payload assembly and the row's CSV line.
#pragma once
#include "recognition/row_record.h"

// Prints the row that decode_row accepted at position. Returns -1 when the
// row is refused before anything of its line is printed, 0 otherwise.
int dump_row(globals* g, const uint8_t* position, const uint8_t* page_end,
             row_record* row, int32_t mode);
