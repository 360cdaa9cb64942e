#include "format/varint.h"

int32_t decode_varint(uint64_t* value_out, const uint8_t* position,
                      const uint8_t** next_out) {
  uint64_t value = 0;
  int32_t count = 0;
  for (;;) {
    const uint8_t byte = position[count++];
    if (count == 9) {
      value = value << 8 | byte;  // the ninth byte gives all eight bits
      break;
    }
    value = value << 7 | (byte & 0x7Fu);
    if (!(byte & 0x80u)) break;
  }
  *value_out = value;
  if (next_out) *next_out = position + count;
  return count;
}

int32_t decode_varint_within(uint64_t* value_out, const uint8_t* position,
                             const uint8_t* end, const uint8_t** next_out) {
  if (position >= end) return 0;
  if (end - position >= 9) return decode_varint(value_out, position, next_out);
  const int32_t available = static_cast<int32_t>(end - position);
  for (int32_t i = 0; i < available; ++i)
    if (!(position[i] & 0x80u)) return decode_varint(value_out, position, next_out);
  return 0;  // every byte left has its top bit set: the varint runs past end
}
