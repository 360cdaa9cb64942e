// A CREATE TABLE statement whose end a later write overwrote (the deleted
// schema row of a dropped table, cut where a new cell begins): what its
// surviving text still says of the columns.
#pragma once
#include <string>
#include <string_view>

#include "schema/table_def.h"

struct cut_statement {
  // The columns whose definitions survive whole (a comma follows them),
  // parsed as the library parses them; empty when the cut fell in the first.
  table_def table;
  // The column the cut fell in: its name when the name survives whole
  // (followed by a space), and its type when the type's words survive whole.
  std::string cut_name;
  std::string cut_type;
  // The text after the type is a prefix of PRIMARY KEY (at least its P).
  bool cut_key_prefix = false;
};

// Reads the surviving text `prefix` of a CREATE TABLE statement (UTF-8);
// false when it is not the start of one (no column list begun, or the
// columns before the cut do not parse).
bool parse_cut_statement(std::string_view prefix, cut_statement* out);
