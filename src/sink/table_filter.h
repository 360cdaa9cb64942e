// --table=NAME: the tables whose rows are printed and exported. Names
// compare as the library compares identifiers: ASCII letters without
// regard to case, every other byte exactly.
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "schema/table_def.h"

bool same_identifier(std::string_view a, std::string_view b);

class table_filter {
 public:
  explicit table_filter(std::span<const char* const> names) : names_(names.begin(), names.end()) {}
  // True for a table named by the options; false for rows of no table.
  bool wants(const table_def* table);
  // The names given that none of `known` matches.
  std::vector<std::string_view> unknown(std::span<const std::string_view> known) const;

 private:
  std::vector<std::string_view> names_;
  std::unordered_map<const table_def*, bool> decided_;
  const table_def* last_ = nullptr;
  bool last_wanted_ = false;
};
