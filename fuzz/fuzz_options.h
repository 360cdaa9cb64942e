// The fuzz input's three leading option bytes and the settings they choose.
// The fuzz target applies them to the scan context directly; the regression
// test replays a saved input through the binary with the same settings as
// command-line arguments.
//
//   byte 0: bit 0 --fine-search, 1 --freespace, 2 --removed-only, 3 -d,
//           4 --no-blobs, 5 --blob-size-limit= (value from byte 1, bits 3-4),
//           6 --deep (the byte scan's search options and limits are then
//           left out, and no log files are read)
//   byte 1: bits 0-2 --page-size=: from the header, 1, 3, 512, 65536, image
//           size + 1, 2147483647, -1; bits 3-4 blob size limit 0, 16, 100, 4096
//   byte 2: bits 0-1 --cellcount-min= 2, 1, 0, -5; bits 2-3 --cellcount-max=
//           1000, 3, 2147483647, 1; bits 4-5 --rowsize-min= 10, 0, 1, 100;
//           bits 6-7 --rowsize-max= -1, 100, 4096, 9
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "setup/globals.h"

constexpr uint64_t fuzz_option_bytes = 3;

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

inline void fuzz_apply(const fuzz_settings& s, globals* g) {
  if (s.deep) {
    g->deep = 1;
    g->wal_file = "none";
    g->journal_file = "none";
    g->removed_only = s.removed_only;
    if (s.no_blobs) g->dump_blobs = 0;
    g->blob_size_limit = s.blob_size_limit;
    g->page_size = s.page_size;
    return;
  }
  g->fine_search = s.fine_search;
  g->freespace = s.freespace;
  g->removed_only = s.removed_only;
  g->debug = s.debug;
  if (s.no_blobs) g->dump_blobs = 0;
  g->blob_size_limit = s.blob_size_limit;
  g->page_size = s.page_size;
  g->cellcount_min = s.cellcount_min;
  g->cellcount_max = s.cellcount_max;
  g->rowsize_min = s.rowsize_min;
  g->rowsize_max = s.rowsize_max;
}

// The same settings as sarvek's arguments (after -i <file>).
inline std::vector<std::string> fuzz_arguments(const fuzz_settings& s) {
  std::vector<std::string> args;
  if (s.deep) {
    args = {"--deep", "--wal=none", "--journal=none"};
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
