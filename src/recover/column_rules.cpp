#include "recover/column_rules.h"

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "format/record.h"
#include "format/text.h"

table_rules rules_for(const table_def& table) {
  table_rules rules;
  for (uint32_t column : table.storage_order) {
    if (column >= table.columns.size()) continue;
    const column_def& c = table.columns[column];
    field_rule rule;
    rule.column_affinity = c.column_affinity;
    rule.strict = table.strict ? c.strict : strict_type::none;
    rule.not_null = c.not_null && !c.primary_key;
    rule.rowid_alias = static_cast<int>(column) == table.rowid_column;
    rule.declared_blob = c.column_affinity == affinity::blob && !c.declared_type.empty();
    rules.fields.push_back(rule);
  }
  rules.min_fields = static_cast<uint32_t>(rules.fields.size());
  return rules;
}

namespace {

// Whether an integer of serial type 1..6 could not have used a smaller one.
bool integer_minimal(uint64_t serial, int64_t v, uint32_t schema_format) {
  static const int64_t limits[] = {0, 0x7F, 0x7FFF, 0x7FFFFF, 0x7FFFFFFF, 0x7FFFFFFFFFFF};
  if (serial == 1) return schema_format < 4 || (v != 0 && v != 1);
  const int64_t below = limits[serial - 1];
  return v > below || v < -below - 1;
}

// A real that the library would have stored as an integer: in a column of
// numeric, integer or real affinity one that is integral and strictly inside
// the 64-bit range; in a STRICT REAL column one under 2^51 in magnitude.
bool real_stored_as_integer(double d, bool strict_real) {
  if (!std::isfinite(d) || d != std::floor(d)) return false;
  const double limit = strict_real ? 2251799813685248.0 : 9223372036854775808.0;
  return d > -limit && d < limit;
}

bool numeric_affinity(affinity a) {
  return a == affinity::integer || a == affinity::numeric || a == affinity::real;
}

// The storage classes a column can hold: 1 null, 2 integer, 4 real, 8 text, 16 blob.
uint32_t classes_allowed(const field_rule& rule) {
  uint32_t mask = 31;
  switch (rule.strict) {
    case strict_type::integer: mask = 1 | 2; break;
    case strict_type::real: mask = 1 | 2 | 4; break;
    case strict_type::text: mask = 1 | 8; break;
    case strict_type::blob: mask = 1 | 16; break;
    case strict_type::any:
    case strict_type::none:
      if (rule.column_affinity == affinity::text) mask = 1 | 8 | 16;
      break;
  }
  if (rule.rowid_alias) mask = 1;
  if (rule.not_null) mask &= ~1u;
  return mask;
}

uint32_t class_of(uint64_t serial) {
  if (serial == 0) return 1;
  if (serial <= 6 || serial == 8 || serial == 9) return 2;
  if (serial == 7) return 4;
  if (serial >= 12) return serial & 1 ? 8 : 16;
  return 0;
}

}  // namespace

bool text_valid(byte_view text, text_encoding encoding) {
  if (encoding == text_encoding::utf8) return valid_utf8_prefix(text) == text.size();
  if (text.size() % 2 != 0) return false;
  const bool big = encoding == text_encoding::utf16be;
  for (size_t i = 0; i < text.size(); i += 2) {
    const uint32_t u = utf16_unit(text, i, big);
    if (u < 0xD800 || u > 0xDFFF) continue;
    if (u > 0xDBFF || i + 3 >= text.size()) return false;
    const uint32_t v = utf16_unit(text, i + 2, big);
    if (v < 0xDC00 || v > 0xDFFF) return false;
    i += 2;
  }
  return true;
}

bool text_has_nul(byte_view text, text_encoding encoding) {
  if (encoding == text_encoding::utf8) return !text.empty() && memchr(text.data(), 0, text.size()) != nullptr;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    if (text[i] == 0 && text[i + 1] == 0) return true;
  return false;
}

bool text_is_numeric(byte_view text, text_encoding encoding) {
  std::string s;
  append_utf8(&s, text, encoding);
  size_t i = 0, n = s.size();
  while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\f' || s[i] == '\r')) ++i;
  while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\n' || s[n - 1] == '\f' ||
                   s[n - 1] == '\r'))
    --n;
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == n;
}

bool value_fits(const field_rule& rule, uint64_t serial, byte_view data, bool whole,
                text_encoding encoding, uint32_t schema_format) {
  const uint32_t cls = class_of(serial);
  if ((cls & classes_allowed(rule)) == 0 || !natural_class(rule, serial)) return false;
  if ((serial == 8 || serial == 9) && schema_format < 4) return false;
  if (!whole) return true;
  const bool numeric = rule.strict == strict_type::none && numeric_affinity(rule.column_affinity);
  if (serial >= 1 && serial <= 6)
    return integer_minimal(serial, load_be_signed(data.data(), static_cast<uint32_t>(serial_size(serial))),
                           schema_format);
  if (serial == 7) {
    const double d = load_be_real(data.data());
    if (std::isnan(d) || std::fpclassify(d) == FP_SUBNORMAL) return false;
    if (rule.strict == strict_type::real) return !real_stored_as_integer(d, true);
    return !(numeric && real_stored_as_integer(d, false));
  }
  if (rule.schema_type) return cls == 8 && schema_type_text(data, encoding);
  if (cls == 8) {
    if (!text_valid(data, encoding) || text_has_nul(data, encoding)) return false;
    return !(numeric && text_is_numeric(data, encoding));
  }
  return true;
}

bool schema_type_text(byte_view text, text_encoding encoding) {
  const size_t unit = encoding == text_encoding::utf8 ? 1 : 2;
  char ascii[8];
  const size_t n = text.size() / unit;
  if (n > sizeof ascii || text.size() % unit != 0) return false;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t lo = text[i * unit + (encoding == text_encoding::utf16be ? 1 : 0)];
    const uint8_t hi = unit == 1 ? 0 : text[i * unit + (encoding == text_encoding::utf16be ? 0 : 1)];
    if (hi != 0) return false;
    ascii[i] = static_cast<char>(lo);
  }
  const std::string_view type(ascii, n);
  return type == "table" || type == "index" || type == "view" || type == "trigger";
}

bool natural_class(const field_rule& rule, uint64_t serial) {
  const uint32_t cls = class_of(serial);
  if (cls == 1) return true;
  switch (rule.strict) {
    case strict_type::integer: return cls == 2;
    case strict_type::real: return cls == 2 || cls == 4;
    case strict_type::text: return cls == 8;
    case strict_type::blob: return cls == 16;
    default: break;
  }
  switch (rule.column_affinity) {
    case affinity::integer:
    case affinity::numeric:
    case affinity::real: return cls == 2 || cls == 4;
    case affinity::text: return cls == 8;
    case affinity::blob: return true;
  }
  return true;
}
