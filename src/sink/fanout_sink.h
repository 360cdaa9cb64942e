// Hands every call on to each of several sinks (the CSV and the export).
#pragma once
#include <vector>

#include "sink/row_sink.h"

class fanout_sink : public row_sink {
 public:
  void add(row_sink* sink) { sinks_.push_back(sink); }
  void table(const table_def& table) override {
    for (row_sink* s : sinks_) s->table(table);
  }
  void row(const deep_row& row) override {
    for (row_sink* s : sinks_) s->row(row);
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
  int finish(const run_facts& facts) override {
    int status = 0;
    for (row_sink* s : sinks_) status |= s->finish(facts);
    return status;
  }

 private:
  std::vector<row_sink*> sinks_;
};
