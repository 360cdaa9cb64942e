#include "deep/notes.h"

#include <cstdarg>
#include <cstdio>

#include "shared/progress.h"

void note(note_log* log, const char* format, ...) {
  if (log->written >= note_limit) {
    ++log->suppressed;
    return;
  }
  ++log->written;
  va_list args;
  va_start(args, format);
  char first[512];
  const int length = vsnprintf(first, sizeof first, format, args);
  va_end(args);
  std::string& text = log->kept.emplace_back(first);
  if (length >= static_cast<int>(sizeof first)) {
    text.resize(static_cast<size_t>(length));
    va_start(args, format);
    vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
  }
  if (log->quiet) return;
  if (log->out) progress_erase(log->out);
  fprintf(stderr, "sarvek: %s\n", text.c_str());
}

void notes_end(note_log* log) {
  if (log->suppressed == 0 || log->quiet) return;
  if (log->out) progress_erase(log->out);
  fprintf(stderr, "sarvek: %llu more notes left out\n",
          static_cast<unsigned long long>(log->suppressed));
  log->suppressed = 0;
}
