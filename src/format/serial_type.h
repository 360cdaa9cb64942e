// Serial types of a record header: 0 NULL; 1 to 6 integers of 1, 2, 3, 4, 6
// and 8 bytes; 7 a real; 8 and 9 the integers 0 and 1; 10 and 11 reserved;
// from 12 on blobs (even) and texts (odd) of (N - 12) / 2 bytes.
#pragma once
#include <cstdint>

// Data sizes of the serial types 0 to 11 (the reserved ones take none).
inline constexpr uint32_t fixed_serial_size[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};

constexpr bool serial_reserved(uint64_t serial) { return serial == 10 || serial == 11; }

constexpr bool serial_is_text(uint64_t serial) { return serial >= 13 && (serial & 1) != 0; }
constexpr bool serial_is_blob(uint64_t serial) { return serial >= 12 && (serial & 1) == 0; }

// Bytes of the value of a serial type.
constexpr uint64_t serial_size(uint64_t serial) {
  return serial >= 12 ? (serial - 12) / 2 : fixed_serial_size[serial];
}
