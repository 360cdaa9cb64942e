// One read of an evidence file: its SHA-256, what its first bytes say it
// is, and whether it changed while it was read. Opened read-only, never
// through a link, never blocking on a special file.
#pragma once
#include <cstdint>
#include <string>

#include "batch/tree_walk.h"

enum class content_kind : uint8_t { database, wal, journal, other };

struct file_scan {
  bool read_ok = false;
  std::string error;        // why it could not be read
  std::string sha256;
  content_kind content = content_kind::other;
  bool damaged_header = false;  // a database whose first 16 bytes are not the header
  bool changed = false;     // size or modification time moved while it was read
};

// What the first bytes of a file (up to its first 64 KiB) say it is.
content_kind classify_bytes(const uint8_t* data, size_t size, bool* damaged_header);

// Reads root/entry.rel whole once.
file_scan scan_file(const std::string& root, const tree_entry& entry);

// True when the file's size or modification time is no longer the one
// the walk saw.
bool file_changed(const std::string& path, const tree_entry& entry);
