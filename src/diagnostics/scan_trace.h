// The -d narration of the row search and the decoder: one function per
// line (or dump) they report. The search and the decoder call these only
// under -d, so the narration costs nothing otherwise.
#pragma once
#include <cstdint>

#include "recognition/row_record.h"

// The search of a window begins in `mode`.
void trace_search_mode(int32_t mode);

// A row was found `offset` bytes after the window's base.
void trace_row_found(const row_record* row, int64_t offset);

// A free-space record used up the rest of the freeblock.
void trace_block_used_up();

// The bytes at pos after a free-space record.
void trace_after_freespace(const globals* g, const uint8_t* pos);

// The decoder starts on a candidate at position.
void trace_decode_start(const globals* g, const uint8_t* position, bool freespace);

// The payload length read; in free-space mode the data length after the header.
void trace_payload_size(uint64_t payload_length);
void trace_freespace_data(uint64_t data_length);

// The first overflow page named at pointer (its four bytes).
void trace_first_overflow(const globals* g, const uint8_t* pointer, uint32_t first);

// The overflow pages the chain named.
void trace_overflow_list(const row_record* row);

// The record's sizes ahead of its cells.
void trace_record_sizes(uint64_t payload_length, uint64_t rowid, uint64_t header_size);

// Serial type 10 or 11 (reserved) in the header.
void trace_reserved_type();

// Cell i of the header: its type, size and offset, and the header bytes left.
void trace_cell(int32_t i, uint32_t type, uint64_t size, uint32_t offset, int64_t left);

// Where the header's serial types ended against where the header ends.
void trace_header_end(uint64_t read_offset, uint64_t header_end, uint64_t sum);

// Fewer cells than --cellcount-min=.
void trace_too_few_cells();

// The cells' total and the header size against the payload length.
void trace_length_check(uint64_t sum, uint64_t header_size, uint64_t payload_length);

// A free-space record found; a standard row whose lengths add up.
void trace_freespace_match(uint64_t sum, uint64_t payload_length);
void trace_match();
