#include "sink/blob_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/progress.h"
#include "sink/out_dir.h"
#include "sink/sha256.h"
#include "sink/write_all.h"

bool blob_files::written_to_file(const value_view& v) const {
  return opt_->dump_blobs && v.kind == value_kind::blob && v.bytes.size() >= opt_->blob_size_limit;
}

std::string blob_files::key_of(const deep_row& row) const {
  if (row.has_rowid) return std::to_string(row.rowid);
  return std::to_string(row.page) + "_" + std::to_string(row.offset);
}

std::string blob_files::column_of(const deep_row& row, size_t i) const {
  if (row.table && i < row.table->columns.size()) return row.table->columns[i].name;
  return "c" + std::to_string(i);
}

bool blob_files::write_file(const deep_row& row, size_t i, byte_view bytes, std::string_view ext,
                            std::string* name) {
  const std::string stem = safe_file_stem(row.table ? std::string_view(row.table->name) : "lost_and_found") + "-" +
                           key_of(row) + "-" + safe_file_stem(column_of(row, i));
  const int fd = create_unique_file(dir_fd_, &names_, stem, ext, name);
  const int error = fd < 0 ? errno
                           : write_all(fd, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (fd >= 0) close(fd);
  if (error == 0) return true;
  // An incomplete file must not pass for the value: it goes.
  progress_erase(counts_);
  fprintf(stderr, "ERROR: Cannot write blob file '%s' ( %s )\n", name->c_str(), strerror(error));
  if (fd >= 0) unlinkat(dir_fd_, name->c_str(), 0);
  name->clear();
  counts_->blob_failures += 1;
  return false;
}

void blob_files::write(const deep_row& row, size_t i, const std::string& media) {
  write_file(row, i, row.values[i].bytes, extension_for(media), &files_[i]);
}

std::string blob_files::save(const deep_row& row, size_t i, byte_view bytes, std::string_view ext) {
  std::string name;
  write_file(row, i, bytes, ext, &name);
  return name;
}

const deep_row& blob_files::prepare(const deep_row& row, row_sink* to) {
  bool any = false;
  for (const value_view& v : row.values) any = any || v.kind == value_kind::blob;
  if (!any) return row;
  files_.assign(row.values.size(), std::string());
  for (size_t i = 0; i < row.values.size(); ++i) {
    const value_view& v = row.values[i];
    if (v.kind != value_kind::blob) continue;
    const bool to_file = written_to_file(v);
    if (!to_file && !describe_) continue;
    const std::string media = media_.of(v.bytes);
    if (to_file) write(row, i, media);
    if (!describe_) continue;
    const std::string key = key_of(row), column = column_of(row, i), sha = sha256_hex(v.bytes);
    to->blob({row.table, key, column, files_[i], v.bytes.size(), sha, media});
  }
  out_ = row;
  out_.blob_files = files_;
  return out_;
}
