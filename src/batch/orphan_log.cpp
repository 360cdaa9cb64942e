#include "batch/orphan_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "format/btree_page.h"
#include "format/db_header.h"
#include "format/wal.h"

namespace {

bool read_at(int fd, uint64_t at, size_t n, std::vector<uint8_t>* out) {
  out->assign(n, 0);
  return pread(fd, out->data(), n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}

// The last image of page 1 in the log (WAL frames: a 24-byte header before
// each page; journal records: the page number, the page, a checksum, after
// a header of one sector), or empty.
std::vector<uint8_t> last_page_one(int fd, bool wal, uint32_t page_size, uint64_t first, uint64_t size) {
  const uint64_t step = wal ? 24 + uint64_t{page_size} : 8 + uint64_t{page_size};
  std::vector<uint8_t> head, image;
  for (uint64_t at = first; at + step <= size; at += step) {
    if (!read_at(fd, at, 4, &head) || be32_or_zero(head, 0) != 1) continue;
    read_at(fd, at + (wal ? 24 : 4), page_size, &image);
  }
  return image;
}

// Page 1 of an empty database in rollback mode: the header and an empty
// table leaf.
std::vector<uint8_t> empty_page_one(uint32_t page_size) {
  std::vector<uint8_t> page(page_size, 0);
  memcpy(page.data(), db_magic, sizeof db_magic);
  page[16] = static_cast<uint8_t>(page_size == 65536 ? 0 : page_size >> 8);
  page[17] = static_cast<uint8_t>(page_size == 65536 ? 1 : page_size & 0xFF);
  page[18] = page[19] = 1;
  page[21] = 64, page[22] = 32, page[23] = 32;
  page[31] = 1;  // one page
  page[47] = 4;  // schema format
  page[59] = 1;  // UTF-8
  page[100] = page_table_leaf;
  page[105] = static_cast<uint8_t>((page_size % 65536) >> 8);
  page[106] = static_cast<uint8_t>(page_size % 65536 & 0xFF);
  return page;
}

}  // namespace

bool make_stand_in(const std::string& log_path, bool wal, const std::string& out, std::string* how,
                   std::string* why) {
  const int fd = open(log_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  std::vector<uint8_t> header;
  const off_t size = fd >= 0 ? lseek(fd, 0, SEEK_END) : -1;
  if (fd < 0 || !read_at(fd, 0, 28, &header)) {
    if (fd >= 0) close(fd);
    *why = "the log cannot be read";
    return false;
  }
  const uint32_t page_size = be32_or_zero(header, wal ? 8 : 24);
  const uint32_t sector = wal ? wal_header_size : be32_or_zero(header, 20);
  if (!page_size_valid(page_size) || (!wal && (sector < 28 || sector > 65536))) {
    close(fd);
    *why = "the log's header gives no page size";
    return false;
  }
  std::vector<uint8_t> page = last_page_one(fd, wal, page_size, sector, static_cast<uint64_t>(size));
  close(fd);
  *how = page.empty() ? "read alone: the log holds no page 1; its pages are searched as free space"
                      : "read alone: a database made of the log's last image of page 1, the log laid over it";
  if (page.empty()) page = empty_page_one(page_size);
  FILE* f = fopen(out.c_str(), "wbx");
  const bool ok = f && fwrite(page.data(), 1, page.size(), f) == page.size();
  if (f && fclose(f) != 0) return false;
  if (!ok) *why = "the stand-in database cannot be written";
  return ok;
}
