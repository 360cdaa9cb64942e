// The database image: the mapped input file and its header fields.
#pragma once
#include "format/bytes.h"
#include "setup/globals.h"

// Takes the file status of g->opt.input_file, opens and maps it read-only.
// On failure writes one "ERROR: " line to standard error and returns 1;
// on success stores the descriptor in *fd_out and returns 0.
int image_map_file(globals* g, int* fd_out);

// Makes any memory the image (tests and the fuzzer hand in exact-size heap
// buffers). size must be at least 1.
void image_attach(globals* g, const uint8_t* data, uint64_t size);

// Reads page size, page count and the freelist fields from the header,
// writes their -d lines, places the walk at the first page, and flushes
// standard output. Returns 1 after an "ERROR: " line when the page size is 0.
int image_read_header(globals* g);

// Says on standard error, one line each, that a non-empty FILE-wal or
// FILE-journal beside the input is not read by the byte scan: the rows it
// prints may then not be the database's current state.
void image_warn_unread_logs(const globals* g);

// The whole image as a view of bytes.
inline byte_view image_bytes(const globals* g) { return {g->db_origin, g->db_size}; }

// The big-endian integer of n bytes at an offset of the image; bytes past
// the image read as 0.
inline uint32_t image_be(const globals* g, uint64_t offset, uint32_t n) {
  return static_cast<uint32_t>(be_padded(image_bytes(g), offset, n));
}
