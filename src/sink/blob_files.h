// Blobs by row (the deep mode): with --blob-size-limit=, each blob of at
// least that size is written to a file of its own,
//   <table>-<rowid, or page_offset without one>-<column>.<ext>
// (lost_and_found and c0, c1, ... for records of no table), the extension
// from the content (media_type.h), each part made safe as safe_names.h
// describes; in the output folder with --out-dir=, else in the working
// folder. A file is never written over (a name taken gets _2, _3, ...) nor
// through a symbolic link, and has mode 0600. The rows handed on name the
// file instead of the bytes. With `describe`, every blob (inline ones too)
// is also handed on as a blob_summary: file, size, SHA-256, media type.
#pragma once
#include <string>
#include <vector>

#include "shared/run_options.h"
#include "shared/run_output.h"
#include "sink/media_type.h"
#include "sink/row_sink.h"
#include "sink/safe_names.h"

class blob_files {
 public:
  // dir_fd: the folder for the files (AT_FDCWD: the working folder).
  blob_files(const run_options* opt, run_output* out, int dir_fd, bool describe)
      : opt_(opt), counts_(out), dir_fd_(dir_fd), describe_(describe) {}
  // True when there is anything to do: files to write or blobs to describe.
  bool active() const { return describe_ || (opt_->dump_blobs && opt_->blob_size_limit != 0xFFFFFFFFu); }
  // The row as handed on, with blob_files set for the blobs written; each
  // blob described to `to`.
  const deep_row& prepare(const deep_row& row, row_sink* to);
  // Writes value i of the row (whole, as given in `bytes`) to a file named
  // as a blob file, with the extension `ext`; returns its name, empty after
  // reporting a failure.
  std::string save(const deep_row& row, size_t i, byte_view bytes, std::string_view ext);

 private:
  bool written_to_file(const value_view& v) const;
  void write(const deep_row& row, size_t i, const std::string& media);
  bool write_file(const deep_row& row, size_t i, byte_view bytes, std::string_view ext, std::string* name);
  std::string key_of(const deep_row& row) const;
  std::string column_of(const deep_row& row, size_t i) const;

  const run_options* opt_;
  run_output* counts_;
  int dir_fd_;
  bool describe_;
  media_types media_;
  unique_names names_{200};
  std::vector<std::string> files_;  // by value, reused
  deep_row out_{};
};
