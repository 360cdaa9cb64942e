#include "format/btree_page.h"

#include <algorithm>

bool read_btree_page(const page_ref& ref, uint32_t number, uint32_t usable, btree_page* page) {
  const byte_view bytes = ref.bytes;
  btree_page p{};
  p.bytes = bytes;
  p.origin = ref.origin;
  p.file_offset = ref.file_offset;
  p.number = number;
  p.usable = static_cast<uint32_t>(std::min<uint64_t>(usable, bytes.size()));
  p.header_offset = number == 1 ? 100 : 0;
  if (p.header_offset >= p.usable) return false;
  p.type = bytes[p.header_offset];
  if (!is_btree_type(p.type)) return false;
  p.header_size = is_leaf_type(p.type) ? 8 : 12;
  if (uint64_t{p.header_offset} + p.header_size > p.usable) return false;
  const uint32_t h = p.header_offset;
  p.first_freeblock = be16_or_zero(bytes, h + 1);
  p.cell_count = be16_or_zero(bytes, h + 3);
  p.content_start = be16_or_zero(bytes, h + 5);
  if (p.content_start == 0) p.content_start = 65536;
  p.fragmented = bytes[h + 7];
  p.right_child = is_leaf_type(p.type) ? 0 : be32_or_zero(bytes, h + 8);
  *page = p;
  return true;
}

bool cell_offset(const btree_page& page, uint32_t i, uint32_t* offset) {
  if (i >= page.cell_count) return false;
  const uint64_t at = uint64_t{page.header_offset} + page.header_size + 2ull * i;
  if (at + 2 > page.usable) return false;
  const uint32_t value = be16_or_zero(page.bytes, at);
  if (value < cell_array_end(page) || value >= page.usable) return false;
  *offset = value;
  return true;
}
