#include "sink/json_format.h"

#include <array>
#include <cmath>
#include <cstring>

#include "format/text.h"
#include "sink/csv_values.h"
#include "sink/export_names.h"
#include "sink/provenance.h"

namespace {

constexpr int64_t exact_limit = int64_t{1} << 53;

// The base64 digits of every 12-bit value, two characters each: a group of
// three bytes takes two lookups.
constexpr std::array<char, 2 * 4096> base64_pairs() {
  constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::array<char, 2 * 4096> table{};
  for (int v = 0; v < 4096; ++v) {
    table[2 * v] = digits[v >> 6];
    table[2 * v + 1] = digits[v & 63];
  }
  return table;
}

void append_base64(std::string* out, byte_view bytes) {
  static constexpr std::array<char, 2 * 4096> pairs = base64_pairs();
  const size_t whole = bytes.size() / 3, rest = bytes.size() % 3;
  const size_t at = out->size();
  out->resize(at + 4 * (whole + (rest != 0)) + 2);
  char* to = out->data() + at;
  *to++ = '"';
  const uint8_t* from = bytes.data();
  for (size_t i = 0; i < whole; ++i, from += 3, to += 4) {
    const uint32_t v = uint32_t{from[0]} << 16 | uint32_t{from[1]} << 8 | from[2];
    std::memcpy(to, &pairs[2 * (v >> 12)], 2);
    std::memcpy(to + 2, &pairs[2 * (v & 0xFFF)], 2);
  }
  if (rest != 0) {
    const uint32_t v = uint32_t{from[0]} << 16 | (rest == 2 ? uint32_t{from[1]} << 8 : 0u);
    std::memcpy(to, &pairs[2 * (v >> 12)], 2);
    to[2] = rest == 2 ? pairs[2 * ((v & 0xFFF) >> 6) + 1] : '=';
    to[3] = '=';
    to += 4;
  }
  *to = '"';
}

}  // namespace

namespace {

// Bytes that a JSON string cannot hold as they are: the control characters,
// the quote and the backslash.
constexpr std::array<bool, 256> escape_table() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = table['\\'] = true;
  return table;
}
constexpr std::array<bool, 256> needs_escape = escape_table();

// True when one of the 8 bytes of w is below 0x20, a quote or a backslash.
bool word_needs_escape(uint64_t w) {
  constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
  const uint64_t quote = w ^ (ones * '"'), backslash = w ^ (ones * '\\');
  return (((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) & highs;
}

}  // namespace

// The escape of a byte that needs_escape marks.
static void append_escape(std::string* out, unsigned char c) {
  static const char hex[] = "0123456789abcdef";
  switch (c) {
    case '"': out->append("\\\""); break;
    case '\\': out->append("\\\\"); break;
    case '\n': out->append("\\n"); break;
    case '\r': out->append("\\r"); break;
    case '\t': out->append("\\t"); break;
    default:
      out->append("\\u00");
      out->push_back(hex[c >> 4]);
      out->push_back(hex[c & 15]);
  }
}

void append_json_string(std::string* out, std::string_view s) {
  out->push_back('"');
  size_t plain = 0;
  for (size_t i = 0; i < s.size();) {
    if (i + 8 <= s.size()) {
      uint64_t w;
      memcpy(&w, s.data() + i, 8);
      if (!word_needs_escape(w)) {
        i += 8;
        continue;
      }
    }
    const auto c = static_cast<unsigned char>(s[i++]);
    if (!needs_escape[c]) continue;
    out->append(s.data() + plain, i - 1 - plain);
    plain = i;
    append_escape(out, c);
  }
  out->append(s.data() + plain, s.size() - plain);
  out->push_back('"');
}

// UTF-8 text as a JSON string, checked and escaped in one pass (ASCII
// eight bytes at a time); false, with `out` as it was, for text that is not
// valid UTF-8.
static bool append_json_utf8(std::string* out, byte_view text) {
  constexpr uint64_t highs = 0x8080808080808080ull;
  const size_t start = out->size();
  const auto* chars = reinterpret_cast<const char*>(text.data());
  size_t i = 0, plain = 0;
  out->push_back('"');
  while (i < text.size()) {
    if (i + 8 <= text.size()) {
      uint64_t w;
      memcpy(&w, chars + i, 8);
      if (!(w & highs) && !word_needs_escape(w)) {
        i += 8;
        continue;
      }
    }
    const uint8_t c = text[i];
    if (c >= 0x80) {
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      if (i + length > text.size() || valid_utf8_prefix(text.subspan(i, length)) != length) {
        out->resize(start);
        return false;
      }
      i += length;
      continue;
    }
    if (needs_escape[c]) {
      out->append(chars + plain, i - plain);
      append_escape(out, c);
      plain = i + 1;
    }
    ++i;
  }
  out->append(chars + plain, text.size() - plain);
  out->push_back('"');
  return true;
}

void json_format::value(std::string* out, const value_view& v, std::string_view file) {
  switch (v.kind) {
    case value_kind::null: out->append("null"); break;
    case value_kind::integer:
      if (v.integer > exact_limit || v.integer < -exact_limit) out->push_back('"');
      append_integer(out, v.integer);
      if (v.integer > exact_limit || v.integer < -exact_limit) out->push_back('"');
      break;
    case value_kind::real:
      if (std::isnan(v.real)) out->append("\"NaN\"");
      else if (std::isinf(v.real)) out->append(v.real < 0 ? "\"-Inf\"" : "\"Inf\"");
      else append_real(out, v.real);
      break;
    case value_kind::text:
      if (v.encoding != text_encoding::utf8) {
        scratch_.clear();
        append_utf8(&scratch_, v.bytes, v.encoding);
        append_json_string(out, scratch_);
      } else if (!append_json_utf8(out, v.bytes)) {
        out->append("{\"type\":\"text\",\"base64\":");
        append_base64(out, v.bytes);
        out->push_back('}');
      }
      break;
    case value_kind::blob:
      out->append("{\"type\":\"blob\",");
      if (!file.empty()) {
        out->append("\"file\":");
        append_json_string(out, file);
        out->push_back(',');
      } else if (opt_->dump_blobs && v.bytes.size() < opt_->blob_size_limit) {
        out->append("\"base64\":");
        append_base64(out, v.bytes);
        out->append(",");
      }
      out->append("\"size\":");
      append_integer(out, static_cast<int64_t>(v.bytes.size()));
      out->push_back('}');
      break;
    case value_kind::unknown: out->append("null"); break;
  }
}

// The name of value i of a record of no table: c<i>.
static void append_field_name(std::string* out, size_t i) {
  out->append("\"c");
  append_integer(out, static_cast<int64_t>(i));
  out->push_back('"');
}

// A name from the schema: valid UTF-8 as is, else with U+FFFD for the
// invalid bytes (a JSON line must be UTF-8).
static void append_json_name(std::string* out, std::string_view name) {
  const byte_view bytes(reinterpret_cast<const uint8_t*>(name.data()), name.size());
  if (valid_utf8_prefix(bytes) == name.size() && name.find('\0') == std::string_view::npos)
    append_json_string(out, name);
  else
    append_json_string(out, clean_name(name));
}

void json_format::times(std::string* out, const deep_row& row, const table_keys& keys) {
  if (keys.times.empty()) return;
  bool first = true;
  for (size_t i = 0; i < row.values.size() && i < keys.epochs.size(); ++i) {
    if (keys.epochs[i] == time_epoch::none) continue;
    const size_t at = out->size();
    out->append(first ? ",\"times\":{" : ",");
    out->append(keys.times[i]);
    if (!format_time(row.values[i], keys.epochs[i], out)) {
      out->resize(at);
      continue;
    }
    out->append("\"}");
    first = false;
  }
  if (!first) out->push_back('}');
}

// The table's JSON pieces, made once: {"table":"name", each column's
// "name": key, and each time column's ,"name":{"epoch":"...","utc":" start.
const json_format::table_keys& json_format::keys_of(const table_def* table) {
  if (table == last_table_ && last_keys_) return *last_keys_;
  auto [at, added] = keys_.try_emplace(table);
  table_keys& keys = at->second;
  if (added || keys.columns.size() != (table ? table->columns.size() : 0)) {
    keys.head = "{\"table\":";
    if (table) append_json_name(&keys.head, table->name);
    else keys.head += "null";
    keys.columns.clear();
    for (size_t i = 0; table && i < table->columns.size(); ++i) {
      append_json_name(&keys.columns.emplace_back(), table->columns[i].name);
      keys.columns.back() += ':';
    }
    const std::vector<time_epoch>* epochs = times_ && table ? times_->of(table) : nullptr;
    keys.epochs = epochs ? *epochs : std::vector<time_epoch>();
    keys.times.clear();
    for (size_t i = 0; i < keys.epochs.size() && i < keys.columns.size(); ++i)
      keys.times.push_back(keys.columns[i] + "{\"epoch\":\"" + epoch_name(keys.epochs[i]) + "\",\"utc\":\"");
  }
  last_table_ = table;
  last_keys_ = &keys;
  return keys;
}

void json_format::row(std::string* out, const deep_row& row) {
  const table_keys& keys = keys_of(row.table);
  out->append(keys.head);
  static const auto provenance_keys = [] {
    std::array<std::string, provenance_names.size()> made;
    for (size_t i = 0; i < made.size(); ++i) made[i] = ",\"" + std::string(provenance_names[i]) + "\":";
    return made;
  }();
  const provenance_values fields = provenance_of(row);
  for (size_t i = 0; i < fields.size(); ++i) {
    out->append(provenance_keys[i]);
    if (fields[i].is_text()) append_json_string(out, fields[i].text);
    else if (fields[i].present) append_integer(out, fields[i].number);
    else out->append("null");
  }
  out->append(",\"values\":{");
  bool first = true;
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (row.values[i].kind == value_kind::unknown) continue;
    if (!first) out->push_back(',');
    first = false;
    if (i < keys.columns.size()) {
      out->append(keys.columns[i]);
    } else {
      append_field_name(out, i);
      out->push_back(':');
    }
    value(out, row.values[i], i < row.blob_files.size() ? std::string_view(row.blob_files[i]) : std::string_view());
  }
  out->append("},\"unrecovered\":[");
  first = true;
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (row.values[i].kind != value_kind::unknown) continue;
    if (!first) out->push_back(',');
    first = false;
    if (row.table && i < row.table->columns.size()) append_json_name(out, row.table->columns[i].name);
    else append_field_name(out, i);
  }
  out->push_back(']');
  times(out, row, keys);
  out->append("}\n");
}
