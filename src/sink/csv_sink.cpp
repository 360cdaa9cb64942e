#include "sink/csv_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/progress.h"
#include "sink/write_all.h"

namespace {

constexpr size_t buffer_limit = size_t{1} << 18;

}  // namespace

csv_sink::csv_sink(int fd, const run_options* opt, run_output* out) : fd_(fd), out_(out), values_(opt) {
  buffer_.reserve(buffer_limit + 4096);
}

void csv_sink::drain() {
  if (error_ == 0) error_ = write_all(fd_, buffer_);
  buffer_.clear();
}

void csv_sink::row(const deep_row& row) {
  if (error_ != 0) return;
  values_.append_row(&buffer_, row, true);
  out_->rows_printed += 1;
  if (buffer_.size() >= buffer_limit) drain();
}

int csv_sink::finish(const run_facts& facts) {
  (void)facts;
  drain();
  if (error_ == 0) return 0;
  progress_erase(out_);
  fprintf(stderr, "ERROR: Cannot write to standard output ( %s )\n", strerror(error_));
  return 1;
}
