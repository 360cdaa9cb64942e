// Names of the files and sheets the deep mode's outputs write, made from
// table and column names that the database chose (and an attacker may have
// chosen): safe on any file system and unique.
//
// A file name keeps ASCII letters, digits, '-' and '_'; every other byte
// (a '.', a '/', a space, each byte of a non-ASCII character) becomes '_'.
// It is cut to 64 bytes, an empty one becomes "_", and one that Windows
// keeps for a device (con, prn, aux, nul, com0-9, lpt0-9, any case) gets a
// leading '_'. Names are unique without regard to ASCII case: a name taken
// gets "_2", "_3", ... (cut further so that the whole stays within 64
// bytes). Sheet names follow the workbook's rules instead (see sheet_name).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "sink/export_names.h"

// The name's safe form, not yet unique.
std::string safe_file_stem(std::string_view name);

// A workbook's sheet name: invalid UTF-8 made U+FFFD, the characters
// []:*?/\ made '_', a leading or trailing apostrophe made '_', cut to 31
// characters (whole UTF-8 characters); empty becomes "_".
std::string sheet_name(std::string_view name);

// Names handed out once each, compared without regard to ASCII case.
class unique_names {
 public:
  // `limit`: the longest name in bytes (for sheets: in characters).
  explicit unique_names(size_t limit, bool count_characters = false)
      : limit_(limit), characters_(count_characters) {}
  // The name itself when free, else the first free name_2, name_3, ...,
  // the name cut so that the suffix fits within the limit.
  std::string claim(std::string_view name);

 private:
  size_t limit_;
  bool characters_;
  name_set taken_;
};
