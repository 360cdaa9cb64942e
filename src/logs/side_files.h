// The write-ahead log and the rollback journal beside the database: found
// by name (FILE-wal, FILE-journal) or given with --wal= and --journal=
// (none: left out), mapped read-only like the database, never changed.
#pragma once
#include <cstdint>
#include <string>

#include "deep/notes.h"
#include "format/bytes.h"

struct side_file {
  std::string path;    // empty: not used
  int fd = -1;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  bool mapped = false;  // data is a mapping of fd (else memory the caller owns)
  byte_view bytes() const { return byte_view(data, size); }
  bool used() const { return !path.empty(); }
};

// Opens and maps the file that `option` names ("none", a path, or null for
// input + suffix when that exists). A named file that cannot be read ends
// the run: false after an "ERROR: " line. `what` names the file in the
// note that says it is read ("write-ahead log", "rollback journal").
bool open_side_file(const char* option, const std::string& input, const char* suffix,
                    const char* what, note_log* notes, side_file* out);

// Uses bytes the caller holds as the file named `path`.
void attach_side_file(byte_view bytes, const std::string& path, side_file* out);

// Unmaps and closes.
void close_side_file(side_file* file);
