#include "sink/export_names.h"

#include "format/text.h"

namespace {

std::string fold(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool starts_with_folded(std::string_view name, std::string_view prefix) {
  return name.size() >= prefix.size() && fold(name.substr(0, prefix.size())) == prefix;
}

}  // namespace

std::string quote_identifier(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out.push_back('"');
  for (char c : name) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  out.push_back('"');
  return out;
}

std::string clean_name(std::string_view name) {
  std::string utf8;
  const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  append_utf8(&utf8, byte_view(bytes, name.size()), text_encoding::utf8);
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    if (c == '\0')
      out += "\xEF\xBF\xBD";
    else
      out.push_back(c);
  }
  return out;
}

std::string source_table_name(std::string_view name) {
  std::string clean = clean_name(name);
  if (starts_with_folded(clean, "sqlite_") || starts_with_folded(clean, "sarvek_") ||
      fold(clean) == "lost_and_found")
    return "src_" + clean;
  return clean;
}

bool name_set::contains(std::string_view name) const { return folded_.count(fold(name)) != 0; }

std::string name_set::claim(std::string_view name) {
  std::string taken(name);
  if (contains(taken)) {
    // Resumes where the last clash of this name stopped: many tables of
    // one name cost no more than one try each.
    uint64_t& n = next_suffix_.try_emplace(fold(name), 2).first->second;
    do taken = std::string(name) + "_" + std::to_string(n++);
    while (contains(taken));
  }
  folded_.insert(fold(taken));
  return taken;
}
