#include "format/db_header.h"

#include <cstring>

bool page_size_valid(uint32_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

db_header read_db_header(byte_view file, uint32_t page_size_override) {
  db_header h{};
  h.magic_ok = file.size() >= sizeof db_magic && memcmp(file.data(), db_magic, sizeof db_magic) == 0;
  uint32_t size = be16_or_zero(file, 16);
  if (size == 1) size = 65536;
  if (page_size_override != 0) size = page_size_override;
  h.page_size = page_size_valid(size) ? size : 0;
  h.write_version = file.size() > 18 ? file[18] : 0;
  h.read_version = file.size() > 19 ? file[19] : 0;
  h.reserved = file.size() > 20 ? file[20] : 0;
  // A reserve that leaves less than 480 usable bytes is not one the format
  // allows; the whole page is then taken as usable.
  h.usable = h.page_size;
  if (h.page_size != 0 && h.page_size - h.reserved >= 480) h.usable = h.page_size - h.reserved;
  h.change_counter = be32_or_zero(file, 24);
  h.size_in_header = be32_or_zero(file, 28);
  h.version_valid_for = be32_or_zero(file, 92);
  h.size_valid = h.size_in_header != 0 && h.version_valid_for == h.change_counter;
  h.freelist_trunk = be32_or_zero(file, 32);
  h.freelist_count = be32_or_zero(file, 36);
  h.schema_format = be32_or_zero(file, 44);
  h.largest_root = be32_or_zero(file, 52);
  const uint32_t encoding = be32_or_zero(file, 56);
  h.encoding = encoding == 2 || encoding == 3 ? static_cast<text_encoding>(encoding) : text_encoding::utf8;
  h.incremental_vacuum = be32_or_zero(file, 64);
  return h;
}
