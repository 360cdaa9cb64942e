#include "sink/csv_values.h"

#include <charconv>
#include <cmath>

#include "format/text.h"
#include "output/render.h"
#include "sink/provenance.h"

void append_integer(std::string* out, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, static_cast<size_t>(result.ptr - digits));
}

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

// A blob as its file's name (blob_files.h), as x'HEX' below the size
// limit, else as blob(N): --no-blobs, or a file that could not be written.
void csv_values::blob(std::string* out, byte_view bytes, std::string_view file) {
  if (!file.empty()) {
    out->append(file);
  } else if (opt_->dump_blobs && bytes.size() < opt_->blob_size_limit) {
    out->append("x'");
    const size_t at = out->size();
    out->resize(at + 2 * bytes.size());
    hex_encode(out->data() + at, bytes.data(), static_cast<uint32_t>(bytes.size()));
    out->push_back('\'');
  } else {
    out->append("blob(");
    append_integer(out, static_cast<int64_t>(bytes.size()));
    out->push_back(')');
  }
}

void csv_values::value(std::string* out, const value_view& v, std::string_view file) {
  switch (v.kind) {
    case value_kind::null: out->append("NULL"); break;
    case value_kind::integer: append_integer(out, v.integer); break;
    case value_kind::real: append_real(out, v.real); break;
    case value_kind::text:
      scratch_.clear();
      append_utf8(&scratch_, v.bytes, v.encoding);
      append_quoted(out, scratch_);
      break;
    case value_kind::blob: blob(out, v.bytes, file); break;
    case value_kind::unknown: break;
  }
}

void csv_values::append_row(std::string* out, const deep_row& row, bool with_table) {
  if (with_table) {
    if (row.table) append_quoted(out, row.table->name);
    out->push_back(',');
  }
  bool first = true;
  for (const provenance_field& field : provenance_of(row)) {
    if (!first) out->push_back(',');
    first = false;
    if (field.is_text())
      out->append(field.text);
    else if (field.present)
      append_integer(out, field.number);
  }
  for (size_t i = 0; i < row.values.size(); ++i) {
    out->push_back(',');
    value(out, row.values[i], i < row.blob_files.size() ? std::string_view(row.blob_files[i]) : std::string_view());
  }
  out->push_back('\n');
}
