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

uint32_t image_be16(const globals* g, uint64_t offset) {
  uint32_t value = 0;
  for (uint64_t i = offset; i < offset + 2; ++i)
    value = value << 8 | (i < g->db_size ? g->db_origin[i] : 0u);
  return value;
}

uint32_t image_be32(const globals* g, uint64_t offset) {
  uint32_t value = 0;
  for (uint64_t i = offset; i < offset + 4; ++i)
    value = value << 8 | (i < g->db_size ? g->db_origin[i] : 0u);
  return value;
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
    g->page_size = image_be16(g, 16);
    if (g->page_size == 1) g->page_size = 65536;  // the format's code for 64 KiB
  }
  if (g->page_size == 0) {
    fprintf(stderr,
            "ERROR: Page size of '%s' is 0 in its header; give one with --page-size=\n",
            g->input_file ? g->input_file : "");
    return 1;
  }
  g->reserved_bytes = static_cast<uint8_t>(image_be16(g, 20) >> 8);
  g->page_count = image_be32(g, 28);
  if (g->debug) printf("Pagesize: %u, Pagecount: %u\n", g->page_size, g->page_count);
  g->freelist_trunk = image_be32(g, 32);
  if (g->debug) printf("First page of freelist trunk: %d\n", static_cast<int>(g->freelist_trunk));
  g->freelist_count = image_be32(g, 36);
  if (g->debug) printf("Freelist page count: %d\n", static_cast<int>(g->freelist_count));
  g->db_page = g->db_origin;
  g->db_cfp = g->db_page;
  if (g->debug) printf_at("DEBUG: Commence decoding data\n");
  flush_stdout(g);
  return 0;
}
