#include "sink/csv_sink.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "diagnostics/progress.h"
#include "format/text.h"
#include "output/render.h"

namespace {

constexpr size_t buffer_limit = size_t{1} << 18;

void append_integer(std::string* out, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, static_cast<size_t>(result.ptr - digits));
}

// Appends s in double quotes, an inner quote doubled.
void append_quoted(std::string* out, std::string_view s) {
  out->push_back('"');
  for (size_t i = 0; i < s.size();) {
    const size_t quote = s.find('"', i);
    const size_t end = quote == std::string_view::npos ? s.size() : quote + 1;
    out->append(s.data() + i, end - i);
    if (quote != std::string_view::npos) out->push_back('"');
    i = end;
  }
  out->push_back('"');
}

}  // namespace

void append_real(std::string* out, double value) {
  if (std::isinf(value)) {
    out->append(value < 0 ? "-Inf" : "Inf");
    return;
  }
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const std::string_view text(digits, static_cast<size_t>(result.ptr - digits));
  out->append(text);
  if (text.find_first_of(".e") == std::string_view::npos) out->append(".0");
}

csv_sink::csv_sink(int fd, globals* g) : fd_(fd), g_(g) { buffer_.reserve(buffer_limit + 4096); }

void csv_sink::drain() {
  size_t done = 0;
  while (done < buffer_.size() && error_ == 0) {
    const ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      error_ = n < 0 ? errno : EIO;
    }
  }
  buffer_.clear();
}

void csv_sink::text(const value_view& v) {
  scratch_.clear();
  append_utf8(&scratch_, v.bytes, v.encoding);
  append_quoted(&buffer_, scratch_);
}

void csv_sink::blob(byte_view bytes) {
  const int32_t number = g_->blob_count;
  g_->blob_count += 1;
  if (!g_->dump_blobs) {
    buffer_.append("blob(");
    append_integer(&buffer_, static_cast<int64_t>(bytes.size()));
    buffer_.push_back(')');
    return;
  }
  if (bytes.size() < g_->blob_size_limit) {
    buffer_.append("x'");
    const size_t at = buffer_.size();
    buffer_.resize(at + 2 * bytes.size());
    hex_encode(buffer_.data() + at, bytes.data(), static_cast<uint32_t>(bytes.size()));
    buffer_.push_back('\'');
    return;
  }
  g_->blob_count = number;  // the file is named by the blob's number
  if (write_blob_file(g_, bytes.data(), static_cast<uint32_t>(bytes.size())) != 0)
    blob_failed_ = true;
  g_->blob_count = number + 1;
  append_integer(&buffer_, number);
  buffer_.append(".blob");
}

void csv_sink::value(const value_view& v) {
  switch (v.kind) {
    case value_kind::null: buffer_.append("NULL"); break;
    case value_kind::integer: append_integer(&buffer_, v.integer); break;
    case value_kind::real: append_real(&buffer_, v.real); break;
    case value_kind::text: text(v); break;
    case value_kind::blob: blob(v.bytes); break;
    case value_kind::unknown: break;
  }
}

void csv_sink::row(const deep_row& row) {
  if (error_ != 0) return;
  if (row.table) append_quoted(&buffer_, row.table->name);
  // ",status,source,reading," in one piece.
  char fixed[48];
  size_t n = 0;
  for (const char* word : {status_name(row.status), source_name(row.source), reading_name(row.reading)}) {
    fixed[n++] = ',';
    for (; *word != '\0' && n + 2 < sizeof fixed; ++word) fixed[n++] = *word;
  }
  fixed[n++] = ',';
  buffer_.append(fixed, n);
  append_integer(&buffer_, row.page);
  buffer_.push_back(',');
  append_integer(&buffer_, static_cast<int64_t>(row.offset));
  buffer_.push_back(',');
  if (row.has_rowid) append_integer(&buffer_, row.rowid);
  for (const value_view& v : row.values) {
    buffer_.push_back(',');
    value(v);
  }
  buffer_.push_back('\n');
  g_->rows_printed += 1;
  if (buffer_.size() >= buffer_limit) drain();
}

int csv_sink::finish(const run_facts& facts) {
  (void)facts;
  drain();
  if (error_ == 0) return 0;
  progress_erase(g_);
  fprintf(stderr, "ERROR: Cannot write to standard output ( %s )\n", strerror(error_));
  return 1;
}
