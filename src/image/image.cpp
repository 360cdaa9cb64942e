#include "image/image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/debug.h"
#include "shared/file_map.h"
#include "output/flush.h"

int image_map_file(globals* g, int* fd_out) {
  mapped_file file{};
  if (map_input_file(g->opt.input_file, &file) != 0) return 1;
  image_attach(g, file.data, file.size);
  *fd_out = file.fd;
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
    const std::string path = std::string(g->opt.input_file) + suffix;
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
            g->opt.input_file ? g->opt.input_file : "");
    return 1;
  }
  g->reserved_bytes = static_cast<uint8_t>(image_be16(g, 20) >> 8);
  g->page_count = image_be32(g, 28);
  if (g->opt.debug) printf("Pagesize: %u, Pagecount: %u\n", g->page_size, g->page_count);
  g->freelist_trunk = image_be32(g, 32);
  if (g->opt.debug) printf("First page of freelist trunk: %d\n", static_cast<int>(g->freelist_trunk));
  g->freelist_count = image_be32(g, 36);
  if (g->opt.debug) printf("Freelist page count: %d\n", static_cast<int>(g->freelist_count));
  g->walk.page = g->db_origin;
  g->walk.cfp = g->walk.page;
  if (g->opt.debug) printf_at("DEBUG: Commence decoding data\n");
  flush_stdout(g);
  return 0;
}
