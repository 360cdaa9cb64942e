// Which columns hold times (sink/time_columns.h): the live rows of every
// table with a column whose name suggests a time are read once more, apart
// (a page map of their own, no notes), on a thread of its own, so that the
// rows of the tables before it are printed meanwhile; a table's rows wait
// for its verdict.
#pragma once
#include <thread>

#include "deep/deep_state.h"
#include "sink/table_filter.h"
#include "sink/time_columns.h"

class time_probe_thread {
 public:
  // Starts the search, in the tables `only` wants (all when null). Nothing
  // of the schema may change until join().
  time_probe_thread(deep_state* s, time_columns* out, table_filter* only = nullptr);
  ~time_probe_thread() { join(); }
  void join();

 private:
  std::thread thread_;
  time_columns* out_;
};
