// Rows in a table format (JSON Lines) on a file descriptor (standard
// output), through a buffer written when full and at the end.
#pragma once
#include <memory>
#include <string>

#include "shared/run_output.h"
#include "sink/dir_sink.h"

class stream_sink final : public row_sink {
 public:
  stream_sink(int fd, std::unique_ptr<table_format> format, run_output* out);
  void row(const deep_row& row) override;
  int finish(const run_facts& facts) override;

 private:
  int fd_;
  std::unique_ptr<table_format> format_;
  run_output* out_;
  int error_ = 0;
  std::string buffer_;
};
