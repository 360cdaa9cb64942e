#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diagnostics/debug.h"
#include "output/render.h"

int write_blob_file(const globals* g, const uint8_t* data, uint32_t size) {
  char name[32];
  snprintf(name, sizeof name, "%d.blob", g->blob_count);
  if (g->debug) printf_at("DEBUG: Writing %d bytes to %s\n", static_cast<int>(size), name);
  // O_NOFOLLOW: a symbolic link planted under the blob's name must not
  // redirect evidence bytes into another file.
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    fprintf(stderr, "Cannot open %s (%s)\n", name, strerror(errno));
    return 1;
  }
  // A single write call may stop short of a very large blob; go on until
  // every byte is written or the system reports an error.
  uint64_t written = 0;
  ssize_t n = 0;
  while (written < size) {
    n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<uint64_t>(n);
  }
  if (written != size) {
    const int reported = n < 0 && written == 0 ? -1 : static_cast<int>(written);
    fprintf(stderr, "Wrote %d of %d bytes to %s ( %s )\n", reported, static_cast<int>(size), name,
            strerror(errno));
    close(fd);
    return 1;
  }
  close(fd);
  return 0;
}
