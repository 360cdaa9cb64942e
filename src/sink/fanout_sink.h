// Hands every call on to each of several sinks (the CSV, the export, ...).
#pragma once
#include <vector>

#include "sink/blob_files.h"
#include "sink/row_sink.h"
#include "sink/table_filter.h"

class fanout_sink : public row_sink {
 public:
  void add(row_sink* sink) { sinks_.push_back(sink); }
  // --table=: only the tables the filter wants are announced and have
  // their rows handed on.
  void only(table_filter* filter) { filter_ = filter; }
  // Blob files by row: the rows are handed on naming their files.
  void write_blobs(blob_files* blobs) { blobs_ = blobs; }
  void table(const table_def& table) override {
    if (filter_ && !filter_->wants(&table)) return;
    for (row_sink* s : sinks_) s->table(table);
  }
  void row(const deep_row& row) override {
    if (filter_ && !filter_->wants(row.table)) return;
    const deep_row& out = blobs_ ? blobs_->prepare(row, this) : row;
    for (row_sink* s : sinks_) s->row(out);
  }
  void page(const page_summary& page) override {
    for (row_sink* s : sinks_) s->page(page);
  }
  void frame(const frame_summary& frame) override {
    for (row_sink* s : sinks_) s->frame(frame);
  }
  void commit(const commit_summary& commit) override {
    for (row_sink* s : sinks_) s->commit(commit);
  }
  void blob(const blob_summary& blob) override {
    for (row_sink* s : sinks_) s->blob(blob);
  }
  void count(const table_count& count) override {
    for (row_sink* s : sinks_) s->count(count);
  }
  void note(std::string_view text) override {
    for (row_sink* s : sinks_) s->note(text);
  }
  int finish(const run_facts& facts) override {
    int status = 0;
    for (row_sink* s : sinks_) status |= s->finish(facts);
    return status;
  }

 private:
  std::vector<row_sink*> sinks_;
  table_filter* filter_ = nullptr;
  blob_files* blobs_ = nullptr;
};
