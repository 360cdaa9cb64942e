#include "sink/table_filter.h"

#include <algorithm>

namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool same_identifier(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

bool table_filter::wants(const table_def* table) {
  if (!table) return false;
  if (table == last_) return last_wanted_;
  auto found = decided_.find(table);
  if (found == decided_.end()) {
    const bool wanted = std::any_of(names_.begin(), names_.end(),
                                    [&](std::string_view name) { return same_identifier(name, table->name); });
    found = decided_.emplace(table, wanted).first;
  }
  last_ = table;
  last_wanted_ = found->second;
  return last_wanted_;
}

std::vector<std::string_view> table_filter::unknown(std::span<const std::string_view> known) const {
  std::vector<std::string_view> out;
  for (std::string_view name : names_)
    if (std::none_of(known.begin(), known.end(), [&](std::string_view k) { return same_identifier(k, name); }))
      out.push_back(name);
  return out;
}
