#include "schema/column_type.h"

#include <array>
#include <cstdint>

#include "schema/sql_lexer.h"

namespace {

uint8_t lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c; }

bool ends_with_word(std::string_view s, std::string_view word) {
  return s.size() >= word.size() && sql_iequal(s.substr(s.size() - word.size()), word);
}

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && sql_is_space(static_cast<uint8_t>(s.back()))) s.remove_suffix(1);
  return s;
}

// The grammar takes GENERATED ALWAYS after a type as more words of the type;
// the library cuts them off again.
std::string_view drop_generated_always(std::string_view s) {
  if (s.size() < 16 || !ends_with_word(s, "always")) return s;
  s = trim_right(s.substr(0, s.size() - 6));
  if (s.size() >= 9 && ends_with_word(s, "generated")) s = trim_right(s.substr(0, s.size() - 9));
  return s;
}

// One quoted word with no other quote inside loses its quotes ("INTEGER").
std::string_view strip_single_quotes(std::string_view s) {
  if (s.size() < 2 || !sql_is_quote(static_cast<uint8_t>(s[0]))) return s;
  for (size_t i = 1; i + 1 < s.size(); ++i)
    if (sql_is_quote(static_cast<uint8_t>(s[i]))) return s;
  return s.substr(1, s.size() - 2);
}

struct standard_name {
  std::string_view name;
  standard_type type;
  affinity aff;
};
constexpr std::array<standard_name, 6> standard_names{{
    {"ANY", standard_type::any, affinity::numeric},
    {"BLOB", standard_type::blob, affinity::blob},
    {"INT", standard_type::int_, affinity::integer},
    {"INTEGER", standard_type::integer, affinity::integer},
    {"REAL", standard_type::real, affinity::real},
    {"TEXT", standard_type::text, affinity::text},
}};

}  // namespace

affinity type_name_affinity(std::string_view type) {
  auto word = [](char a, char b, char c, char d) {
    return (uint32_t{static_cast<uint8_t>(a)} << 24) | (uint32_t{static_cast<uint8_t>(b)} << 16) |
           (uint32_t{static_cast<uint8_t>(c)} << 8) | uint32_t{static_cast<uint8_t>(d)};
  };
  // The last four bytes, lower-cased, slide over the name.
  uint32_t h = 0;
  affinity aff = affinity::numeric;
  for (char ch : type) {
    h = (h << 8) + lower(static_cast<uint8_t>(ch));
    if (h == word('c', 'h', 'a', 'r') || h == word('c', 'l', 'o', 'b') || h == word('t', 'e', 'x', 't')) {
      aff = affinity::text;
    } else if (h == word('b', 'l', 'o', 'b') && (aff == affinity::numeric || aff == affinity::real)) {
      aff = affinity::blob;
    } else if ((h == word('r', 'e', 'a', 'l') || h == word('f', 'l', 'o', 'a') ||
                h == word('d', 'o', 'u', 'b')) &&
               aff == affinity::numeric) {
      aff = affinity::real;
    } else if ((h & 0x00FFFFFF) == (word(0, 'i', 'n', 't'))) {
      return affinity::integer;
    }
  }
  return aff;
}

column_type read_column_type(std::string_view span) {
  column_type out;
  if (span.empty()) return out;  // no type: blob affinity
  span = drop_generated_always(span);
  if (span.empty()) return out;
  // The library strips the quotes of a single quoted word before it looks for
  // a standard name, and keeps the stripped text: "[a] b" reads "a] ".
  if (span.size() >= 3) {
    span = strip_single_quotes(span);
    for (const standard_name& s : standard_names) {
      if (sql_iequal(span, s.name)) {
        out.declared = std::string(s.name);
        out.standard = s.type;
        out.type_affinity = s.aff;
        return out;
      }
    }
  }
  out.declared = sql_dequote(span);
  out.type_affinity = type_name_affinity(out.declared);
  return out;
}

strict_type strict_type_of(standard_type t) {
  switch (t) {
    case standard_type::any: return strict_type::any;
    case standard_type::blob: return strict_type::blob;
    case standard_type::int_:
    case standard_type::integer: return strict_type::integer;
    case standard_type::real: return strict_type::real;
    case standard_type::text: return strict_type::text;
    case standard_type::none: break;
  }
  return strict_type::none;
}
