#include "deep/notes.h"

#include <cstdarg>
#include <cstdio>

#include "diagnostics/progress.h"

void note(note_log* log, const char* format, ...) {
  if (log->written >= note_limit) {
    ++log->suppressed;
    return;
  }
  ++log->written;
  if (log->g) progress_erase(log->g);
  fputs("sarvek: ", stderr);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

void notes_end(note_log* log) {
  if (log->suppressed == 0) return;
  if (log->g) progress_erase(log->g);
  fprintf(stderr, "sarvek: %llu more notes left out\n",
          static_cast<unsigned long long>(log->suppressed));
  log->suppressed = 0;
}
