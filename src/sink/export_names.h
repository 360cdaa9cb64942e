// How the export names its tables and columns.
//
// The export database follows the library's rules: names compare equal
// regardless of ASCII case, and names beginning with "sqlite_" belong to the
// library. The export keeps for itself every table name beginning with
// "sarvek_" and the name "lost_and_found". So:
//  1. Every name is first made clean: invalid UTF-8 sequences and NUL
//     characters become U+FFFD.
//  2. A source table whose name begins with "sqlite_" or "sarvek_", or is
//     "lost_and_found" (any case), is named with "src_" before it:
//     sqlite_master becomes src_sqlite_master.
//  3. A name already taken (any case) gets "_2", or "_3", ...: the first
//     that is free. Tables take names in the order the export first meets
//     them (the export's own tables first), columns in table order (the
//     sarvek_ columns first), so a source column named sarvek_page becomes
//     sarvek_page_2.
// Every name is written into SQL in double quotes, inner quotes doubled.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// The name as an SQL identifier: in double quotes, inner quotes doubled.
std::string quote_identifier(std::string_view name);

// The name with invalid UTF-8 sequences and NUL characters made U+FFFD.
std::string clean_name(std::string_view name);

// A source table's name in the export before clashes are resolved: clean,
// and with "src_" before a name that the library or the export keeps.
std::string source_table_name(std::string_view name);

// Names taken so far, compared as the library compares them.
class name_set {
 public:
  bool contains(std::string_view name) const;
  // Takes the name, or when it is taken the first free one of name_2,
  // name_3, ...; returns the name taken.
  std::string claim(std::string_view name);

 private:
  std::unordered_set<std::string> folded_;
  std::unordered_map<std::string, uint64_t> next_suffix_;  // by folded name
};
