// SQLite 3 variable-length integers.
#pragma once
#include <cstdint>

// Decodes the varint at position; returns its length (1 to 9). When next_out
// is given it receives position + length. Reads up to 9 bytes unchecked.
int32_t decode_varint(uint64_t* value_out, const uint8_t* position,
                      const uint8_t** next_out);

// As decode_varint, but reads no byte at or after end: returns 0 (and leaves
// the outputs untouched) when the varint does not end before end.
int32_t decode_varint_within(uint64_t* value_out, const uint8_t* position,
                             const uint8_t* end, const uint8_t** next_out);
