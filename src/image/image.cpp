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
    g->page_size = image_be(g, 16, 2);
    if (g->page_size == 1) g->page_size = 65536;  // the format's code for 64 KiB
  }
  if (g->page_size == 0) {
    fprintf(stderr,
            "ERROR: Page size of '%s' is 0 in its header; give one with --page-size=\n",
            g->opt.input_file ? g->opt.input_file : "");
    return 1;
  }
  g->reserved_bytes = static_cast<uint8_t>(image_be(g, 20, 2) >> 8);
  g->page_count = image_be(g, 28, 4);
  if (g->opt.debug) printf("Pagesize: %u, Pagecount: %u\n", g->page_size, g->page_count);
  g->freelist_trunk = image_be(g, 32, 4);
  if (g->opt.debug) printf("First page of freelist trunk: %d\n", static_cast<int>(g->freelist_trunk));
  g->freelist_count = image_be(g, 36, 4);
  if (g->opt.debug) printf("Freelist page count: %d\n", static_cast<int>(g->freelist_count));
  g->walk.page = g->db_origin;
  g->walk.cfp = g->walk.page;
  if (g->opt.debug) printf_at("DEBUG: Commence decoding data\n");
  flush_stdout(g);
  return 0;
}
