// Where the row search sends what it finds: the receiver (the page walker)
// filters, prints and flushes; the search itself writes no row.
#pragma once
#include <cstdint>

struct row_record;

struct row_report {
  // A row decode_row accepted at position. Returns 1 when the row is taken
  // (the search steps past it), 0 when it is passed over (the search goes
  // on at the next byte).
  int (*found)(void* context, const uint8_t* position, const uint8_t* page_end, row_record* row,
               int32_t mode);
  // Brings standard output up to date after a message of the decoder's own.
  void (*flush)(void* context);
  void* context;
};
