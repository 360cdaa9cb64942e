#include "sink/row_counter.h"

#include <string>

#include "sink/export_names.h"

namespace {

constexpr size_t source_count = 7;

// A name fit for one line of standard error: valid UTF-8, control
// characters made '?'.
std::string printable(std::string_view name) {
  std::string out = clean_name(name);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

}  // namespace

row_counter::counts& row_counter::of(const table_def* table) {
  if (table == last_ && last_counts_) return *last_counts_;
  auto [at, added] = by_table_.try_emplace(table);
  if (added) order_.push_back(table);
  last_ = table;
  last_counts_ = &at->second;
  return at->second;
}

void row_counter::table(const table_def& table) { of(&table); }

void row_counter::row(const deep_row& row) {
  of(row.table)[static_cast<size_t>(row.status) * source_count + static_cast<size_t>(row.source)] += 1;
}

void row_counter::report(row_sink* to) const {
  for (const bool lost : {false, true})
    for (const table_def* table : order_) {
      if ((table == nullptr) != lost) continue;
      const counts& c = by_table_.at(table);
      for (size_t i = 0; i < c.size(); ++i)
        if (c[i] != 0)
          to->count({table, static_cast<row_status>(i / source_count), static_cast<row_source>(i % source_count), c[i]});
    }
}

void row_counter::print(FILE* out) const {
  for (const bool lost : {false, true})
    for (const table_def* table : order_) {
      if ((table == nullptr) != lost) continue;
      const counts& c = by_table_.at(table);
      std::string line = "sarvek: " + (table ? printable(table->name) : std::string("lost_and_found")) + ":";
      bool any = false;
      for (size_t status = 0; status < 4; ++status) {
        uint64_t n = 0;
        for (size_t source = 0; source < source_count; ++source) n += c[status * source_count + source];
        if (n == 0) continue;
        line += (any ? ", " : " ") + std::to_string(n) + " " + status_name(static_cast<row_status>(status));
        any = true;
      }
      if (!any) line += " no rows";
      fprintf(out, "%s\n", line.c_str());
    }
}

std::array<uint64_t, 4> row_counter::by_status() const {
  std::array<uint64_t, 4> totals{};
  for (const auto& [table, c] : by_table_)
    for (size_t i = 0; i < c.size(); ++i) totals[i / source_count] += c[i];
  return totals;
}
