#include "output/flush.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/progress.h"

void flush_stdout(const globals* g) {
  // Only the walker's thread writes to standard output, so the error flag
  // can be read without the stream's lock.
  if (fflush(stdout) == 0 && !ferror_unlocked(stdout)) return;
  const int error = errno != 0 ? errno : EIO;
  progress_erase(&g->out);
  fprintf(stderr, "ERROR: Cannot write to standard output ( %s )\n", strerror(error));
  // Not exit(): its flush would retry the lost rows' buffer. The scan-ahead
  // worker, if any, ends with the process.
  _exit(1);
}
