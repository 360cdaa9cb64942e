// The input file, mapped read-only: what both modes read.
#pragma once
#include <cstdint>

struct mapped_file {
  const uint8_t* data;  // first byte of the file
  uint64_t size;        // at least 1
  int fd;               // open while the mapping is used
};

// Takes the file status of path, opens and maps it read-only. On failure
// writes one "ERROR: " line to standard error and returns 1; else 0.
int map_input_file(const char* path, mapped_file* out);
