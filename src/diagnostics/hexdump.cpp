#include "diagnostics/hexdump.h"

#include <cstdio>

namespace {

bool printable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

}  // namespace

uint64_t dump_clip(const uint8_t* data, uint64_t length, const uint8_t* lo,
                   const uint8_t* hi) {
  if (data < lo || data >= hi) return 0;
  const uint64_t available = static_cast<uint64_t>(hi - data);
  return length < available ? length : available;
}

int hexdump(const uint8_t* data, uint16_t length, const char* label) {
  printf("%s: Hexdumping %d bytes from %p\n", label, length, static_cast<const void*>(data));
  if (!data) {
    printf("ERROR: NULL passed.\n");
    printf("\n");
    return 0;
  }
  int row_offset = 0;
  int remaining = length;
  const uint8_t* p = data;
  while (remaining > 0) {
    printf("%04X [%06d] ", row_offset, remaining);
    row_offset += 16;
    const int count = remaining < 16 ? remaining : 16;
    for (int i = 0; i < count; ++i) printf("%02X ", p[i]);
    printf("  [%06d]", remaining);
    for (int i = 0; i < count; ++i) putchar(printable(p[i]) ? p[i] : '.');
    const int left = count == 16 ? remaining - 16 : -1;
    printf(" %d\n", left);
    remaining = left;
    p += count;
  }
  printf("\n");
  return 0;
}
