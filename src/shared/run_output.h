// What the renderers of both modes share: the counts of what they wrote and
// the progress line, which every writer to standard error erases first.
#pragma once
#include <cstdint>

struct progress_meter;

struct run_output {
  uint64_t rows_printed;     // rows whose line was written
  int32_t blob_count;        // blob files named so far (the byte scan's N.blob)
  // Blob files that could not be written whole: the run ends with status 2.
  uint64_t blob_failures;
  // The progress line of a long run, or null when none is shown.
  progress_meter* progress;
};
