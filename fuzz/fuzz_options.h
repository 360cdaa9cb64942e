// The fuzz input's three leading option bytes and the settings they choose.
// The fuzz target applies them to the scan context directly; the regression
// test replays a saved input through the binary with the same settings as
// command-line arguments.
//
//   byte 0: bit 0 --fine-search, 1 --freespace, 2 --removed-only, 3 -d,
//           4 --no-blobs, 5 --blob-size-limit= (value from byte 1, bits 3-4),
//           6 --deep (the byte scan's search options and limits are then
//           left out, and no log files beside the input are read),
//           7 with --deep: the input holds a database and a log (below)
//   byte 1: bits 0-2 --page-size=: from the header, 1, 3, 512, 65536, image
//           size + 1, 2147483647, -1; bits 3-4 blob size limit 0, 16, 100, 4096;
//           bit 5 the log is a rollback journal (else a write-ahead log)
//   byte 2: bits 0-1 --cellcount-min= 2, 1, 0, -5; bits 2-3 --cellcount-max=
//           1000, 3, 2147483647, 1; bits 4-5 --rowsize-min= 10, 0, 1, 100;
//           bits 6-7 --rowsize-max= -1, 100, 4096, 9
//
// With a log, the bytes after the option bytes are a 4-byte little-endian
// length n, the database (its first n bytes, or all that follows when
// fewer), then the log. The image size above is the database's.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "shared/run_options.h"

constexpr uint64_t fuzz_option_bytes = 3;
constexpr uint64_t fuzz_length_bytes = 4;

// The files one fuzz input holds: offsets into the input.
struct fuzz_files {
  uint64_t db_at = fuzz_option_bytes, db_size = 0;
  uint64_t log_at = 0, log_size = 0;
  bool log = false;      // a log follows the database
  bool journal = false;  // the log is a rollback journal
};

// Splits an input of `size` bytes (more than the option bytes).
inline fuzz_files fuzz_split(const uint8_t* data, uint64_t size) {
  fuzz_files f;
  f.db_size = size - fuzz_option_bytes;
  f.log = (data[0] & 0x40) && (data[0] & 0x80) && f.db_size >= fuzz_length_bytes;
  if (!f.log) return f;
  f.journal = data[1] & 0x20;
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | data[fuzz_option_bytes + i];
  f.db_at = fuzz_option_bytes + fuzz_length_bytes;
  f.db_size = std::min<uint64_t>(n, size - f.db_at);
  f.log_at = f.db_at + f.db_size;
  f.log_size = size - f.log_at;
  return f;
}

struct fuzz_settings {
  bool fine_search, freespace, removed_only, debug, no_blobs, blob_limit_given, deep;
  uint32_t blob_size_limit;
  uint32_t page_size;  // 0: from the header
  int32_t cellcount_min, cellcount_max;
  uint32_t rowsize_min, rowsize_max;
};

inline fuzz_settings fuzz_decode_options(const uint8_t* opt, uint64_t image_size) {
  static const uint32_t blob_limits[4] = {0, 16, 100, 4096};
  static const int32_t cell_min[4] = {2, 1, 0, -5};
  static const int32_t cell_max[4] = {1000, 3, 2147483647, 1};
  static const uint32_t row_min[4] = {10, 0, 1, 100};
  static const uint32_t row_max[4] = {0xFFFFFFFFu, 100, 4096, 9};
  const uint32_t page_sizes[8] = {0, 1, 3, 512, 65536, static_cast<uint32_t>(image_size + 1),
                                  2147483647u, 0xFFFFFFFFu};
  fuzz_settings s{};
  s.fine_search = opt[0] & 0x01;
  s.freespace = opt[0] & 0x02;
  s.removed_only = opt[0] & 0x04;
  s.debug = opt[0] & 0x08;
  s.no_blobs = opt[0] & 0x10;
  s.blob_limit_given = opt[0] & 0x20;
  s.deep = opt[0] & 0x40;
  s.blob_size_limit = s.blob_limit_given ? blob_limits[(opt[1] >> 3) & 3] : 0xFFFFFFFFu;
  s.page_size = page_sizes[opt[1] & 7];
  s.cellcount_min = cell_min[opt[2] & 3];
  s.cellcount_max = cell_max[(opt[2] >> 2) & 3];
  s.rowsize_min = row_min[(opt[2] >> 4) & 3];
  s.rowsize_max = row_max[(opt[2] >> 6) & 3];
  return s;
}

inline void fuzz_apply(const fuzz_settings& s, run_options* o) {
  if (s.deep) {
    o->deep = 1;
    o->wal_file = "none";
    o->journal_file = "none";
    o->removed_only = s.removed_only;
    if (s.no_blobs) o->dump_blobs = 0;
    o->blob_size_limit = s.blob_size_limit;
    o->page_size = s.page_size;
    return;
  }
  o->fine_search = s.fine_search;
  o->freespace = s.freespace;
  o->removed_only = s.removed_only;
  o->debug = s.debug;
  if (s.no_blobs) o->dump_blobs = 0;
  o->blob_size_limit = s.blob_size_limit;
  o->page_size = s.page_size;
  o->cellcount_min = s.cellcount_min;
  o->cellcount_max = s.cellcount_max;
  o->rowsize_min = s.rowsize_min;
  o->rowsize_max = s.rowsize_max;
}

// The same settings as sarvek's arguments (after -i <file>); `log` names
// the file that holds the input's log, if it has one.
inline std::vector<std::string> fuzz_arguments(const fuzz_settings& s, const fuzz_files& files = {},
                                               const std::string& log = "") {
  std::vector<std::string> args;
  if (s.deep) {
    args = {"--deep", files.log && !files.journal ? "--wal=" + log : "--wal=none",
            files.log && files.journal ? "--journal=" + log : "--journal=none"};
    if (s.removed_only) args.push_back("--removed-only");
    if (s.no_blobs) args.push_back("--no-blobs");
    if (s.blob_limit_given) args.push_back("--blob-size-limit=" + std::to_string(s.blob_size_limit));
    args.push_back("--page-size=" + std::to_string(static_cast<int32_t>(s.page_size)));
    return args;
  }
  if (s.fine_search) args.push_back("--fine-search");
  if (s.freespace) args.push_back("--freespace");
  if (s.removed_only) args.push_back("--removed-only");
  if (s.debug) args.push_back("-d");
  if (s.no_blobs) args.push_back("--no-blobs");
  if (s.blob_limit_given) args.push_back("--blob-size-limit=" + std::to_string(s.blob_size_limit));
  args.push_back("--page-size=" + std::to_string(static_cast<int32_t>(s.page_size)));
  args.push_back("--cellcount-min=" + std::to_string(s.cellcount_min));
  args.push_back("--cellcount-max=" + std::to_string(s.cellcount_max));
  args.push_back("--rowsize-min=" + std::to_string(s.rowsize_min));
  args.push_back("--rowsize-max=" + std::to_string(static_cast<int32_t>(s.rowsize_max)));
  return args;
}
