// The fields every output writes before a row's values, in order: one list,
// so that each output (CSV, JSON Lines, workbook) names and fills them alike.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "sink/row_sink.h"

struct provenance_field {
  std::string_view text;  // a text field; empty data() when it is a number
  int64_t number = 0;
  bool present = true;    // false: an empty field (a rowid not recovered)
  bool is_text() const { return text.data() != nullptr; }
};

constexpr std::array<std::string_view, 6> provenance_names{"status", "source", "reading", "page", "offset", "rowid"};
using provenance_values = std::array<provenance_field, provenance_names.size()>;

provenance_values provenance_of(const deep_row& row);
