#include <cstdio>

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"
#include "output/flush.h"

void raw_page_dump(const globals* g) {
  const uint64_t offset = static_cast<uint64_t>(g->walk.page - g->db_origin);
  printf_at("Dumping main block in RAW... [ Page No: %lu, Offset: %lu (0x%lX),  size : %d ]\n",
            static_cast<unsigned long>(g->walk.page_number), static_cast<unsigned long>(offset),
            static_cast<unsigned long>(offset), static_cast<int>(g->page_size));
  // A short last page shows the bytes that exist.
  const uint64_t count = dump_clip(g->walk.page, g->page_size, g->db_origin, g->db_end + 1);
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t byte = g->walk.page[i];
    putchar(byte >= 0x20 && byte <= 0x7E ? byte : '_');
    if ((i + 1) % 128 == 0) putchar('\n');
  }
  printf("\n");
  flush_stdout(g);
}
