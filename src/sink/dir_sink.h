// --out-dir=DIR: one file per table, DIR/<table>.<ext>, plus
// DIR/lost_and_found.<ext> for records of no table and DIR/tables.csv, the
// map from each table's name to its file's. Rows are kept in a buffer per
// table, written when it fills and at the end.
#pragma once
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "shared/run_output.h"
#include "sink/out_dir.h"
#include "sink/row_sink.h"

// How one output format writes a table's file.
class table_format {
 public:
  virtual ~table_format() = default;
  virtual std::string_view extension() const = 0;
  virtual bool has_header() const = 0;
  // The header line; `table` null: records of no table with `fields` values.
  virtual void header(std::string* out, const table_def* table, size_t fields) = 0;
  virtual void row(std::string* out, const deep_row& row) = 0;
};

class dir_sink final : public row_sink {
 public:
  // The folder must be open already; out counts the rows written.
  dir_sink(out_dir* dir, std::unique_ptr<table_format> format, run_output* out);
  ~dir_sink() override;
  void table(const table_def& table) override;
  void row(const deep_row& row) override;
  int finish(const run_facts& facts) override;

 private:
  struct table_file {
    const table_def* table = nullptr;
    std::string name;
    std::string buffer;
    size_t fields = 0;  // records of no table: the most values of one
    bool headed = false;  // the header line is written
    int fd = -1;          // kept open, or -1: opened for each write
  };
  table_file* file_for(const table_def* table);
  table_file* open_file(const table_def* table, std::string_view stem);
  void drain(table_file* file);
  void drain_all();
  void close_files();
  bool finish_lost();
  bool write_map();
  void fail(int error);

  out_dir* dir_;
  std::unique_ptr<table_format> format_;
  run_output* out_;
  int error_ = 0;
  std::string failed_file_;
  std::deque<table_file> files_;
  std::unordered_map<const table_def*, table_file*> by_table_;
  const table_def* last_ = nullptr;
  table_file* last_file_ = nullptr;
  table_file* lost_ = nullptr;
  size_t buffered_ = 0;  // bytes in all buffers
  size_t open_files_ = 0;
};

// The header line's CSV form of one name: as is when it needs no quotes,
// else in double quotes with inner quotes doubled.
void append_csv_name(std::string* out, std::string_view name);
