// Rows as CSV lines on a file descriptor (standard output), through a
// buffer that is written when full and at the end, never per row:
//   table,status,source,reading,page,offset,rowid,value1,value2,...
#pragma once
#include <string>

#include "shared/run_options.h"
#include "shared/run_output.h"
#include "sink/csv_values.h"
#include "sink/row_sink.h"

class csv_sink : public row_sink {
 public:
  // opt supplies the blob settings (--no-blobs, --blob-size-limit=); out
  // the progress line, and it counts the rows written.
  csv_sink(int fd, const run_options* opt, run_output* out);
  void row(const deep_row& row) override;
  int finish(const run_facts& facts) override;
  // True once a write has failed; later rows are dropped.
  bool failed() const { return error_ != 0; }

 private:
  void drain();

  int fd_;
  run_output* out_;
  int error_ = 0;
  csv_values values_;
  std::string buffer_;
};
