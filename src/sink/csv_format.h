// The CSV form of --out-dir's files: a header line (status,source,reading,page,
// offset,rowid, then the table's column names; c0, c1, ... for records of
// no table), then the rows as the CSV stream prints them without the table.
#pragma once
#include "sink/csv_values.h"
#include "sink/dir_sink.h"

class csv_format final : public table_format {
 public:
  explicit csv_format(const run_options* opt) : values_(opt) {}
  std::string_view extension() const override { return "csv"; }
  bool has_header() const override { return true; }
  void header(std::string* out, const table_def* table, size_t fields) override;
  void row(std::string* out, const deep_row& row) override { values_.append_row(out, row, false); }

 private:
  csv_values values_;
};
