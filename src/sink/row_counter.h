// Counts the rows printed, by table, status and source: the run's summary
// on standard error and the export's sarvek_summary.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "sink/row_sink.h"

class row_counter final : public row_sink {
 public:
  void table(const table_def& table) override;
  void row(const deep_row& row) override;
  int finish(const run_facts& facts) override { (void)facts; return 0; }
  // Hands every non-zero count to the sink, tables in the order announced,
  // records of no table last.
  void report(row_sink* to) const;
  // One line per table announced (and one for records of no table, if
  // any): "sarvek: NAME: 517 live, 93 deleted, 3 superseded".
  void print(FILE* out) const;
  // The rows counted by status (live, deleted, superseded, uncommitted),
  // over every table and source.
  std::array<uint64_t, 4> by_status() const;

 private:
  using counts = std::array<uint64_t, 4 * 7>;  // status * 7 + source
  counts& of(const table_def* table);

  std::vector<const table_def*> order_;
  std::unordered_map<const table_def*, counts> by_table_;
  const table_def* last_ = nullptr;
  counts* last_counts_ = nullptr;
};
