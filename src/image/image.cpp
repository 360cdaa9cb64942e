#include "image/image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/debug.h"
#include "output/flush.h"

int image_map_file(globals* g, int* fd_out) {
  const char* path = g->input_file;
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
  image_attach(g, static_cast<const uint8_t*>(view), size);
  *fd_out = fd;
  return 0;
}

void image_attach(globals* g, const uint8_t* data, uint64_t size) {
  g->db_size = size;
  g->db_origin = data;
  g->db_end = data + size - 1;
}

void image_warn_unread_logs(const globals* g) {
  for (const char* suffix : {"-wal", "-journal"}) {
    const std::string path = std::string(g->input_file) + suffix;
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
      fprintf(stderr, "sarvek: '%s' is not read by this mode; --deep reads it\n", path.c_str());
  }
}

int image_read_header(globals* g) {
  if (g->page_size == 0) {
    g->page_size = image_be(g, 16, 2);
    if (g->page_size == 1) g->page_size = 65536;  // the format's code for 64 KiB
  }
  if (g->page_size == 0) {
    fprintf(stderr,
            "ERROR: Page size of '%s' is 0 in its header; give one with --page-size=\n",
            g->input_file ? g->input_file : "");
    return 1;
  }
  g->reserved_bytes = static_cast<uint8_t>(image_be(g, 20, 2) >> 8);
  g->page_count = image_be(g, 28, 4);
  if (g->debug) printf("Pagesize: %u, Pagecount: %u\n", g->page_size, g->page_count);
  g->freelist_trunk = image_be(g, 32, 4);
  if (g->debug) printf("First page of freelist trunk: %d\n", static_cast<int>(g->freelist_trunk));
  g->freelist_count = image_be(g, 36, 4);
  if (g->debug) printf("Freelist page count: %d\n", static_cast<int>(g->freelist_count));
  g->db_page = g->db_origin;
  g->db_cfp = g->db_page;
  if (g->debug) printf_at("DEBUG: Commence decoding data\n");
  flush_stdout(g);
  return 0;
}
