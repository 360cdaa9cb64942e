#include "sink/safe_names.h"

#include <array>

namespace {

constexpr size_t stem_limit = 64;

bool is_device_name(std::string_view stem) {
  std::string folded(stem);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  constexpr std::array<std::string_view, 4> plain{"con", "prn", "aux", "nul"};
  for (std::string_view name : plain)
    if (folded == name) return true;
  return folded.size() == 4 && (folded.starts_with("com") || folded.starts_with("lpt")) &&
         folded[3] >= '0' && folded[3] <= '9';
}

// The length of the longest prefix of `name` that holds at most `limit`
// characters (UTF-8) or bytes, never cutting a character in two.
size_t cut_point(std::string_view name, size_t limit, bool characters) {
  size_t at = 0, count = 0;
  while (at < name.size() && count < limit) {
    size_t next = at + 1;
    while (next < name.size() && (static_cast<uint8_t>(name[next]) & 0xC0) == 0x80) ++next;
    if (!characters && next > limit) break;
    at = next;
    ++count;
  }
  return at;
}

}  // namespace

std::string safe_file_stem(std::string_view name) {
  std::string stem;
  stem.reserve(std::min(name.size(), stem_limit) + 1);
  for (char c : name.substr(0, stem_limit)) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    stem.push_back(kept ? c : '_');
  }
  if (stem.empty() || is_device_name(stem)) stem.insert(stem.begin(), '_');
  return stem;
}

std::string sheet_name(std::string_view name) {
  std::string sheet;
  for (char c : clean_name(name)) {
    const bool bad = c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\';
    sheet.push_back(bad ? '_' : c);
  }
  sheet.resize(cut_point(sheet, 31, true));
  if (sheet.empty()) sheet = "_";
  if (sheet.front() == '\'') sheet.front() = '_';
  if (sheet.back() == '\'') sheet.back() = '_';
  return sheet;
}

std::string unique_names::claim(std::string_view name) {
  std::string taken(name.substr(0, cut_point(name, limit_, characters_)));
  for (uint64_t n = 2; taken_.contains(taken); ++n) {
    const std::string suffix = "_" + std::to_string(n);
    taken = std::string(name.substr(0, cut_point(name, limit_ - suffix.size(), characters_))) + suffix;
  }
  return taken_.claim(taken);
}
