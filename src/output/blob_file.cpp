#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diagnostics/debug.h"
#include "shared/progress.h"
#include "output/render.h"

int write_blob_file(const globals* g, const uint8_t* data, uint32_t size) {
  char name[32];
  snprintf(name, sizeof name, "%d.blob", g->out.blob_count);
  if (g->opt.debug) printf_at("DEBUG: Writing %d bytes to %s\n", static_cast<int>(size), name);
  // O_NOFOLLOW: a symbolic link planted under the blob's name must not
  // redirect evidence bytes into another file.
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    progress_erase(&g->out);
    fprintf(stderr, "Cannot open %s (%s)\n", name, strerror(errno));
    return 1;
  }
  // One write call per blob. Only a blob beyond what one call can take is
  // written in chunks; a short count ends the writing at once, so a file-size
  // limit or a full disk is reported instead of retried (a retry past a
  // file-size limit would raise SIGXFSZ and end the run).
  constexpr uint64_t max_chunk = uint64_t{1} << 30;
  uint64_t written = 0;
  ssize_t n = 0;
  errno = 0;
  while (written < size) {
    const uint64_t want = std::min<uint64_t>(size - written, max_chunk);
    n = write(fd, data + written, want);
    if (n > 0) written += static_cast<uint64_t>(n);
    if (n != static_cast<ssize_t>(want)) break;
  }
  if (written != size) {
    progress_erase(&g->out);
    const int reported = n < 0 && written == 0 ? -1 : static_cast<int>(written);
    fprintf(stderr, "Wrote %d of %d bytes to %s ( %s )\n", reported, static_cast<int>(size), name,
            strerror(errno));
    // An incomplete file must not pass for the blob: it goes.
    close(fd);
    unlink(name);
    return 1;
  }
  close(fd);
  return 0;
}
