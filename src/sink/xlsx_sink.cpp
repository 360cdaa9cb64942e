#include "sink/xlsx_sink.h"

#include <xlsxwriter.h>

#include <cmath>
#include <filesystem>
#include <cstdio>
#include <unistd.h>

#include "shared/progress.h"
#include "format/text.h"
#include "output/render.h"
#include "sink/csv_values.h"
#include "sink/provenance.h"
#include "sink/publish.h"

namespace {

constexpr size_t cell_limit = 32767;  // characters of one cell
constexpr int64_t exact_limit = int64_t{1} << 53;

// The number of UTF-8 characters of s, and the byte where character n starts.
size_t byte_of_character(std::string_view s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if ((static_cast<uint8_t>(s[i]) & 0xC0) != 0x80 && count++ == n) return i;
  return s.size();
}

}  // namespace

std::unique_ptr<xlsx_sink> xlsx_sink::open(const std::string& path, const run_options* opt, run_output* out,
                                           blob_files* blobs) {
  std::string partial, error;
  if (!create_partial(path, &partial, &error)) {
    fprintf(stderr, "ERROR: Cannot create workbook '%s' ( %s )\n", path.c_str(), error.c_str());
    return nullptr;
  }
  std::unique_ptr<xlsx_sink> sink(new xlsx_sink(path, partial, opt, out, blobs));
  // The rows wait in temporary files beside the workbook, not in /tmp:
  // evidence stays on the volume the examiner chose.
  const std::string folder = std::filesystem::path(path).parent_path().string();
  sink->tmpdir_ = folder.empty() ? "." : folder;
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.use_zip64 = LXW_TRUE;
  options.tmpdir = sink->tmpdir_.data();
  sink->wb_ = workbook_new_opt(partial.c_str(), &options);
  if (sink->wb_) sink->summary_ = workbook_add_worksheet(sink->wb_, "summary");
  if (!sink->summary_) {
    fprintf(stderr, "ERROR: Cannot create workbook '%s'\n", path.c_str());
    return nullptr;
  }
  sink->names_.claim("summary");
  sink->names_.claim("History");  // Excel keeps this name for itself
  const char* heads[] = {"table", "sheet", "status", "source", "rows"};
  for (uint16_t c = 0; c < 5; ++c) worksheet_write_string(sink->summary_, 0, c, heads[c], nullptr);
  worksheet_freeze_panes(sink->summary_, 1, 0);
  return sink;
}

xlsx_sink::~xlsx_sink() {
  if (wb_) {
    // Unfinished: the workbook is closed (its temporary files go) and the
    // partial file removed.
    workbook_close(wb_);
    wb_ = nullptr;
  }
  if (!partial_.empty()) unlink(partial_.c_str());
}

void xlsx_sink::check(int error) {
  if (error != LXW_NO_ERROR && error_ == 0) error_ = error;
}

void xlsx_sink::header(sheet* s, const table_def* table, size_t fields) {
  uint16_t col = 0;
  for (std::string_view name : provenance_names) worksheet_write_string(s->ws, 0, col++, std::string(name).c_str(), nullptr);
  worksheet_write_string(s->ws, 0, col++, "unrecovered", nullptr);
  const size_t count = table ? table->columns.size() : fields;
  for (size_t i = 0; i < count && col < LXW_COL_MAX; ++i) {
    scratch_ = table ? clean_name(table->columns[i].name) : "c" + std::to_string(i);
    worksheet_write_string(s->ws, 0, col++, scratch_.c_str(), nullptr);
  }
  worksheet_freeze_panes(s->ws, 1, 0);
}

// The table's sheet, made with its header row the first time.
xlsx_sink::sheet* xlsx_sink::sheet_for(const table_def* table, size_t fields) {
  auto found = sheets_.find(table);
  if (found != sheets_.end()) return &found->second;
  sheet& s = sheets_[table];
  s.name = names_.claim(sheet_name(table ? std::string_view(table->name) : "lost_and_found"));
  s.ws = workbook_add_worksheet(wb_, s.name.c_str());
  if (!s.ws) {
    check(LXW_ERROR_MEMORY_MALLOC_FAILED);
    s.full = true;
  } else {
    header(&s, table, fields);
  }
  return &s;
}

void xlsx_sink::table(const table_def& table) {
  if (error_ == 0) sheet_for(&table, 0);
}

// scratch_ as a text cell; longer than a cell holds, it is cut with a
// marker naming the file that holds the whole value.
void xlsx_sink::text_cell(sheet* s, uint16_t col, const deep_row& row, size_t i, byte_view whole,
                          std::string_view ext) {
  const lxw_row_t r = s->next_row - 1;
  if (byte_of_character(scratch_, cell_limit) < scratch_.size()) {
    const std::string file = blobs_->save(row, i, whole, ext);
    const std::string marker = "\xE2\x80\xA6[cut: " + (file.empty() ? std::string("not saved") : "whole value in " + file) + "]";
    scratch_.resize(byte_of_character(scratch_, cell_limit - marker.size()));
    scratch_ += marker;
  }
  check(worksheet_write_string(s->ws, r, col, scratch_.c_str(), nullptr));
}

void xlsx_sink::cell(sheet* s, uint16_t col, const deep_row& row, size_t i) {
  const lxw_row_t r = s->next_row - 1;
  const value_view& v = row.values[i];
  scratch_.clear();
  switch (v.kind) {
    case value_kind::null:
    case value_kind::unknown: return;
    case value_kind::integer:
      if (v.integer <= exact_limit && v.integer >= -exact_limit)
        return check(worksheet_write_number(s->ws, r, col, static_cast<double>(v.integer), nullptr));
      append_integer(&scratch_, v.integer);
      break;
    case value_kind::real:
      if (std::isfinite(v.real)) return check(worksheet_write_number(s->ws, r, col, v.real, nullptr));
      scratch_ = std::isnan(v.real) ? "NaN" : v.real < 0 ? "-Inf" : "Inf";
      break;
    case value_kind::text: {
      append_utf8(&scratch_, v.bytes, v.encoding);
      const std::string whole = scratch_;
      for (size_t at = scratch_.find('\0'); at != std::string::npos; at = scratch_.find('\0', at))
        scratch_.replace(at, 1, "\xEF\xBF\xBD");
      const auto* bytes = reinterpret_cast<const uint8_t*>(whole.data());
      return text_cell(s, col, row, i, byte_view(bytes, whole.size()), "txt");
    }
    case value_kind::blob:
      if (i < row.blob_files.size() && !row.blob_files[i].empty()) {
        scratch_ = row.blob_files[i];
      } else if (opt_->dump_blobs && v.bytes.size() < opt_->blob_size_limit) {
        scratch_ = "x'";
        scratch_.resize(2 + 2 * v.bytes.size());
        hex_encode(scratch_.data() + 2, v.bytes.data(), static_cast<uint32_t>(v.bytes.size()));
        scratch_ += '\'';
        return text_cell(s, col, row, i, v.bytes, "bin");
      } else {
        scratch_ = "blob(" + std::to_string(v.bytes.size()) + ")";
      }
      break;
  }
  check(worksheet_write_string(s->ws, r, col, scratch_.c_str(), nullptr));
}

void xlsx_sink::row(const deep_row& row) {
  if (error_ != 0) return;
  sheet* s = sheet_for(row.table, row.values.size());
  if (s->full) return;
  if (s->next_row >= LXW_ROW_MAX) {
    s->full = true;
    progress_erase(out_);
    fprintf(stderr, "sarvek: workbook: sheet '%s' is full; its table's later rows are left out of the workbook\n",
            s->name.c_str());
    return;
  }
  const lxw_row_t r = s->next_row++;
  uint16_t col = 0;
  for (const provenance_field& field : provenance_of(row)) {
    if (field.is_text()) check(worksheet_write_string(s->ws, r, col, std::string(field.text).c_str(), nullptr));
    else if (field.present) check(worksheet_write_number(s->ws, r, col, static_cast<double>(field.number), nullptr));
    ++col;
  }
  scratch_.clear();
  for (size_t i = 0; i < row.values.size(); ++i)
    if (row.values[i].kind == value_kind::unknown)
      scratch_ += (scratch_.empty() ? "" : ",") + (row.table && i < row.table->columns.size()
                                                      ? clean_name(row.table->columns[i].name)
                                                      : "c" + std::to_string(i));
  if (!scratch_.empty()) check(worksheet_write_string(s->ws, r, col, scratch_.c_str(), nullptr));
  ++col;
  for (size_t i = 0; i < row.values.size() && col < LXW_COL_MAX; ++i) cell(s, col++, row, i);
}

void xlsx_sink::count(const table_count& count) {
  if (error_ != 0) return;
  const lxw_row_t r = summary_row_++;
  const auto found = sheets_.find(count.table);
  scratch_ = count.table ? clean_name(count.table->name) : std::string();
  if (count.table) worksheet_write_string(summary_, r, 0, scratch_.c_str(), nullptr);
  if (found != sheets_.end()) worksheet_write_string(summary_, r, 1, found->second.name.c_str(), nullptr);
  worksheet_write_string(summary_, r, 2, status_name(count.status), nullptr);
  worksheet_write_string(summary_, r, 3, source_name(count.source), nullptr);
  check(worksheet_write_number(summary_, r, 4, static_cast<double>(count.rows), nullptr));
}

int xlsx_sink::finish(const run_facts& facts) {
  (void)facts;
  if (wb_) check(workbook_close(wb_));
  wb_ = nullptr;
  std::string error = error_ != 0 ? lxw_strerror(static_cast<lxw_error>(error_)) : "";
  if (error_ == 0 && publish_file(partial_, path_, &error)) {
    partial_.clear();
    return 0;
  }
  progress_erase(out_);
  fprintf(stderr, "ERROR: Cannot write workbook '%s' ( %s )\n", path_.c_str(), error.c_str());
  return 1;
}
