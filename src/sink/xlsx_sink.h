// --xlsx=FILE: an Excel workbook, written with libxlsxwriter in its
// constant-memory mode (each sheet's rows go to a temporary file as they
// come). A sheet per table: a header row (frozen), the provenance columns
// (provenance.h) and "unrecovered" first, then the table's columns; numbers
// as numbers (integers beyond 2^53, which a double cannot hold, and
// non-finite reals as texts), texts as texts (never read as formulas),
// blobs as their file's name or x'HEX', NULL and values not recovered as
// empty cells (the unrecovered column names the latter). A text longer than
// a cell holds (32,767 characters) is cut, with a marker naming the blob
// file that holds all of it. A sheet "summary" lists each table's sheet and
// its rows by status and source. Sheet names are made valid and unique
// (safe_names.h). The file is written as the export is: refused when it
// exists, written under a partial name (mode 0600), renamed when complete;
// the sheets' rows wait in temporary files in the same folder.
#pragma once
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "shared/run_options.h"
#include "shared/run_output.h"
#include "sink/blob_files.h"
#include "sink/row_sink.h"
#include "sink/safe_names.h"

struct lxw_workbook;
struct lxw_worksheet;

class xlsx_sink final : public row_sink {
 public:
  // On failure writes one "ERROR: " line and returns null. blobs: where
  // whole values of cut cells go.
  static std::unique_ptr<xlsx_sink> open(const std::string& path, const run_options* opt, run_output* out,
                                          blob_files* blobs);
  ~xlsx_sink() override;
  void table(const table_def& table) override;
  void row(const deep_row& row) override;
  void count(const table_count& count) override;
  int finish(const run_facts& facts) override;

 private:
  struct sheet {
    lxw_worksheet* ws = nullptr;
    std::string name;
    uint32_t next_row = 1;  // after the header
    bool full = false;      // the sheet's rows are used up
  };
  xlsx_sink(std::string path, std::string partial, const run_options* opt, run_output* out, blob_files* blobs)
      : path_(std::move(path)), partial_(std::move(partial)), opt_(opt), out_(out), blobs_(blobs) {}
  sheet* sheet_for(const table_def* table, size_t fields);
  void header(sheet* s, const table_def* table, size_t fields);
  void cell(sheet* s, uint16_t col, const deep_row& row, size_t i);
  void text_cell(sheet* s, uint16_t col, const deep_row& row, size_t i, byte_view whole, std::string_view ext);
  void check(int error);

  std::string path_, partial_;
  std::string tmpdir_;  // the folder of the temporary files
  const run_options* opt_;
  run_output* out_;
  blob_files* blobs_;
  lxw_workbook* wb_ = nullptr;
  lxw_worksheet* summary_ = nullptr;
  uint32_t summary_row_ = 1;
  unique_names names_{31, true};
  std::unordered_map<const table_def*, sheet> sheets_;
  size_t lost_fields_ = 0;
  int error_ = 0;
  std::string scratch_;
};
