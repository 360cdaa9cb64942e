#include "sink/stream_sink.h"

#include <cstdio>
#include <cstring>

#include "shared/progress.h"
#include "sink/write_all.h"

namespace {

constexpr size_t buffer_limit = size_t{1} << 18;

}  // namespace

stream_sink::stream_sink(int fd, std::unique_ptr<table_format> format, run_output* out)
    : fd_(fd), format_(std::move(format)), out_(out) {
  buffer_.reserve(buffer_limit + 4096);
}

void stream_sink::row(const deep_row& row) {
  if (error_ != 0) return;
  format_->row(&buffer_, row);
  out_->rows_printed += 1;
  if (buffer_.size() < buffer_limit) return;
  error_ = write_all(fd_, buffer_);
  buffer_.clear();
}

int stream_sink::finish(const run_facts& facts) {
  (void)facts;
  if (error_ == 0) error_ = write_all(fd_, buffer_);
  buffer_.clear();
  if (error_ == 0) return 0;
  progress_erase(out_);
  fprintf(stderr, "ERROR: Cannot write to standard output ( %s )\n", strerror(error_));
  return 1;
}
