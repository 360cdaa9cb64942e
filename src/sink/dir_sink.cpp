#include "sink/dir_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/progress.h"
#include "sink/csv_values.h"
#include "sink/write_all.h"

namespace {

constexpr size_t file_buffer_limit = size_t{1} << 18;
// Files kept open between writes; the others are opened for each write.
constexpr size_t open_files_limit = 64;
constexpr size_t total_buffer_limit = size_t{1} << 23;
// Records of no table, before their header (which needs the longest
// record) is known. Safe names never begin with '.'.
constexpr char lost_body[] = ".lost_and_found.body";

}  // namespace

void append_csv_name(std::string* out, std::string_view name) {
  if (name.find_first_of(",\"\r\n") == std::string_view::npos && !name.empty())
    out->append(name);
  else
    append_quoted(out, name);
}

dir_sink::dir_sink(out_dir* dir, std::unique_ptr<table_format> format, run_output* out)
    : dir_(dir), format_(std::move(format)), out_(out) {
  dir_->reserve("tables");
  dir_->reserve("lost_and_found");
}

dir_sink::~dir_sink() {
  close_files();
  if (lost_ && format_->has_header()) unlinkat(dir_->fd(), lost_body, 0);
}

void dir_sink::close_files() {
  for (table_file& file : files_)
    if (file.fd >= 0) {
      if (close(file.fd) != 0 && error_ == 0) {
        failed_file_ = file.name;
        fail(errno);
      }
      file.fd = -1;
    }
  open_files_ = 0;
}

void dir_sink::fail(int error) {
  if (error_ == 0) error_ = error;
}

dir_sink::table_file* dir_sink::open_file(const table_def* table, std::string_view stem) {
  table_file* file = &files_.emplace_back();
  file->table = table;
  int fd = -1;
  if (!table) {
    // The name was reserved at the start: no table's file has it.
    file->name = "lost_and_found." + std::string(format_->extension());
    const char* name = format_->has_header() ? lost_body : file->name.c_str();
    fd = openat(dir_->fd(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } else {
    fd = dir_->create(stem, format_->extension(), &file->name);
  }
  if (fd < 0) {
    fail(errno);
  } else if (open_files_ < open_files_limit) {
    file->fd = fd;
    ++open_files_;
  } else {
    close(fd);
  }
  by_table_.emplace(table, file);
  return file;
}

dir_sink::table_file* dir_sink::file_for(const table_def* table) {
  if (table == last_ && last_file_) return last_file_;
  auto found = by_table_.find(table);
  table_file* file = found != by_table_.end() ? found->second
                     : table ? open_file(table, safe_file_stem(table->name))
                             : (lost_ = open_file(nullptr, "lost_and_found"));
  last_ = table;
  last_file_ = file;
  return file;
}

// Writes the file's buffer, after its header the first time (written this
// late, a table whose statement could not be parsed has all its columns).
void dir_sink::drain(table_file* file) {
  const bool header = file->table && format_->has_header() && !file->headed;
  if (file->buffer.empty() && !header) return;
  std::string head;
  if (header) format_->header(&head, file->table, 0);
  file->headed = true;
  const char* name = file == lost_ && format_->has_header() ? lost_body : file->name.c_str();
  const int fd = file->fd >= 0 ? file->fd : openat(dir_->fd(), name, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  int error = fd < 0 ? errno : write_all(fd, head);
  if (error == 0) error = write_all(fd, file->buffer);
  if (fd >= 0 && fd != file->fd) close(fd);
  if (error != 0 && error_ == 0) failed_file_ = file->name;
  fail(error);
  buffered_ -= file->buffer.size();
  file->buffer.clear();
}

void dir_sink::drain_all() {
  for (table_file& file : files_) drain(&file);
}

void dir_sink::table(const table_def& table) {
  if (error_ == 0) file_for(&table);
}

void dir_sink::row(const deep_row& row) {
  if (error_ != 0) return;
  table_file* file = file_for(row.table);
  if (!row.table && row.values.size() > file->fields) file->fields = row.values.size();
  const size_t before = file->buffer.size();
  format_->row(&file->buffer, row);
  buffered_ += file->buffer.size() - before;
  out_->rows_printed += 1;
  if (file->buffer.size() >= file_buffer_limit) drain(file);
  if (buffered_ >= total_buffer_limit) drain_all();
}

// The header, then the records of no table kept in the body file.
bool dir_sink::finish_lost() {
  if (!format_->has_header()) return true;
  const int out = openat(dir_->fd(), lost_->name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int in = openat(dir_->fd(), lost_body, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  std::string chunk;
  format_->header(&chunk, nullptr, lost_->fields);
  int error = out < 0 || in < 0 ? errno : write_all(out, chunk);
  chunk.resize(file_buffer_limit);
  while (error == 0) {
    const ssize_t n = read(in, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : 0;
      break;
    }
    error = write_all(out, std::string_view(chunk.data(), static_cast<size_t>(n)));
  }
  if (out >= 0) close(out);
  if (in >= 0) close(in);
  unlinkat(dir_->fd(), lost_body, 0);
  if (error != 0 && error_ == 0) failed_file_ = lost_->name;
  fail(error);
  return error == 0;
}

// tables.csv: each table's name and its file's, in the order the files
// were made.
bool dir_sink::write_map() {
  std::string text = "table,file\n";
  for (const table_file& file : files_) {
    if (file.table) append_quoted(&text, file.table->name);
    text += ',';
    append_csv_name(&text, file.name);
    text += '\n';
  }
  const int fd = openat(dir_->fd(), "tables.csv", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int error = fd < 0 ? errno : write_all(fd, text);
  if (fd >= 0) close(fd);
  if (error != 0 && error_ == 0) failed_file_ = "tables.csv";
  fail(error);
  return error == 0;
}

int dir_sink::finish(const run_facts& facts) {
  (void)facts;
  if (error_ == 0) file_for(nullptr);
  drain_all();
  close_files();
  if (error_ == 0 && lost_) finish_lost();
  if (error_ == 0) write_map();
  if (error_ == 0) return 0;
  progress_erase(out_);
  fprintf(stderr, "ERROR: Cannot write '%s/%s' ( %s )\n", dir_->path().c_str(), failed_file_.c_str(),
          strerror(error_));
  return 1;
}
