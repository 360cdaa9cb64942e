// Notes about damage: one line each on standard error, beginning "sarvek: ".
// A badly damaged file could produce one per page; after note_limit lines
// the rest are only counted, and the count is reported at the end.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "shared/run_output.h"

constexpr uint64_t note_limit = 1000;

struct note_log {
  const run_output* out = nullptr;  // for the progress line, erased before each note
  uint64_t written = 0;
  uint64_t suppressed = 0;
  bool quiet = false;              // --quiet: notes are kept, not written
  std::vector<std::string> kept;   // every note written (or kept), for the export
};

// Writes one note (printf format, no line feed).
void note(note_log* log, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Reports how many notes were left out, if any.
void notes_end(note_log* log);
