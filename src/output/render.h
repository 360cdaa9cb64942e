// Cell rendering and blob files.
#pragma once
#include <cstdint>
#include "recognition/row_record.h"

// A text field: quoted, double quotes doubled, non-printables as '.'.
int dump_text(const uint8_t* data, uint32_t length);

// An inline blob: x'..' with two upper-case hex digits per byte.
int dump_blob_literal(const uint8_t* data, uint32_t length);

// Writes two upper-case hex digits per byte of data to out (2 * length chars).
void hex_encode(char* out, const uint8_t* data, uint32_t length);

// Writes size bytes to "<blob_count>.blob". Returns 0 when all were written;
// 1 when the file could not be made, or could not be written whole (the
// incomplete file is then removed).
int write_blob_file(const globals* g, const uint8_t* data, uint32_t size);

// Writes the row's line from row->mapped_data and flushes standard output.
int render_row(globals* g, const uint8_t* position, const row_record* row,
               int32_t mode);
