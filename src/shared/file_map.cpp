#include "shared/file_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int map_input_file(const char* path, mapped_file* out) {
  struct stat status;
  if (stat(path, &status) != 0) {
    fprintf(stderr, "ERROR: Cannot access input file '%s' ( %s )\n", path, strerror(errno));
    return 1;
  }
  if (!S_ISREG(status.st_mode)) {
    fprintf(stderr, "ERROR: Input file '%s' is not a regular file\n", path);
    return 1;
  }
  if (status.st_size <= 0) {
    fprintf(stderr, "ERROR: Input file '%s' is empty\n", path);
    return 1;
  }
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    fprintf(stderr, "ERROR: Cannot open input file '%s' ( %s )\n", path, strerror(errno));
    return 1;
  }
  uint64_t size = static_cast<uint64_t>(status.st_size);
  void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    fprintf(stderr, "ERROR: Cannot map input file '%s' ( %s )\n", path, strerror(errno));
    close(fd);
    return 1;
  }
  *out = mapped_file{static_cast<const uint8_t*>(view), size, fd};
  return 0;
}
