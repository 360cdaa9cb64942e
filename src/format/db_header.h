// The 100-byte database header on page 1.
#pragma once
#include <cstdint>

#include "format/bytes.h"

// The file's first 16 bytes (with the terminating NUL).
inline constexpr char db_magic[16] = "SQLite format 3";

enum class text_encoding : uint8_t { utf8 = 1, utf16le = 2, utf16be = 3 };

struct db_header {
  bool magic_ok;              // "SQLite format 3\0"
  uint32_t page_size;         // 512..65536 when valid, else 0
  uint8_t write_version;      // 1 rollback journal, 2 WAL
  uint8_t read_version;
  uint8_t reserved;           // bytes at the end of every page
  uint32_t usable;            // page_size - reserved
  uint32_t change_counter;
  uint32_t size_in_header;    // database size in pages
  bool size_valid;            // the size field is trustworthy (offset 92 == offset 24, non-zero)
  uint32_t freelist_trunk;
  uint32_t freelist_count;
  uint32_t schema_format;
  uint32_t largest_root;      // non-zero: auto-vacuum, pointer-map pages present
  text_encoding encoding;     // UTF-8 when the field holds anything else
  uint32_t incremental_vacuum;
  uint32_t version_valid_for;
};

// A valid page size: a power of two from 512 to 65536.
bool page_size_valid(uint32_t size);

// Reads the header fields from the first bytes of the file (missing bytes
// read as 0). A page size override (non-zero) replaces the header's.
db_header read_db_header(byte_view file, uint32_t page_size_override);
