#include "sink/json_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "format/text.h"
#if defined(__x86_64__) && defined(__GNUC__) && !defined(SARVEK_NO_SIMD)
#include <immintrin.h>
#elif defined(__SSE2__) && !defined(SARVEK_NO_SIMD)
#include <emmintrin.h>
#endif
#include "sink/export_names.h"
#include "sink/provenance.h"

namespace {

constexpr int64_t exact_limit = int64_t{1} << 53;
// The longest line's buffer kept between rows.
constexpr size_t line_keep_limit = size_t{1} << 20;

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

constexpr std::array<char, 2 * 4096> base64_digits = base64_pairs();

// The base64 length of n bytes, in its quotes.
size_t base64_size(size_t n) { return 4 * ((n + 2) / 3) + 2; }

#if defined(__x86_64__) && defined(__GNUC__) && !defined(SARVEK_NO_SIMD)
// Twelve bytes at a time while sixteen remain (SSSE3): each 3-byte group
// is spread over four bytes, each 6-bit value moved to the low bits of its
// byte by two multiplies, and the digit is the value plus an offset looked
// up by its range (A-Z, a-z, 0-9, +, /). Returns the bytes taken.
__attribute__((target("ssse3"))) size_t put_base64_ssse3(char** to, const uint8_t* from, size_t n) {
  const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
  const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  size_t done = 0;
  for (; n - done >= 16; done += 12, *to += 16) {
    const __m128i in = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done)), spread);
    const __m128i high = _mm_mulhi_epu16(_mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00)), _mm_set1_epi32(0x04000040));
    const __m128i low = _mm_mullo_epi16(_mm_and_si128(in, _mm_set1_epi32(0x003f03f0)), _mm_set1_epi32(0x01000010));
    const __m128i values = _mm_or_si128(high, low);
    // 0..25 -> 13, 26..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12.
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
    range = _mm_or_si128(range, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), values), _mm_set1_epi8(13)));
    const __m128i digits = _mm_add_epi8(_mm_shuffle_epi8(offsets, range), values);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(*to), digits);
  }
  return done;
}
#endif

// bytes as a base64 JSON string at `to`, which has room for
// base64_size(bytes.size()); returns its end. Six bytes at a time, from one
// 8-byte load, where eight bytes remain.
char* put_base64(char* to, byte_view bytes) {
  *to++ = '"';
  const uint8_t* from = bytes.data();
  const uint8_t* const end = from + bytes.size();
#if defined(__x86_64__) && defined(__GNUC__) && !defined(SARVEK_NO_SIMD)
  static const bool ssse3 = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  if (ssse3) from += put_base64_ssse3(&to, from, bytes.size());
#endif
  for (; end - from >= 8; from += 6, to += 8) {
    uint64_t v;
    std::memcpy(&v, from, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(to, &base64_digits[2 * (v >> 52)], 2);
    std::memcpy(to + 2, &base64_digits[2 * (v >> 40 & 0xFFF)], 2);
    std::memcpy(to + 4, &base64_digits[2 * (v >> 28 & 0xFFF)], 2);
    std::memcpy(to + 6, &base64_digits[2 * (v >> 16 & 0xFFF)], 2);
  }
  for (; end - from >= 3; from += 3, to += 4) {
    const uint32_t v = uint32_t{from[0]} << 16 | uint32_t{from[1]} << 8 | from[2];
    std::memcpy(to, &base64_digits[2 * (v >> 12)], 2);
    std::memcpy(to + 2, &base64_digits[2 * (v & 0xFFF)], 2);
  }
  const size_t rest = static_cast<size_t>(end - from);
  if (rest != 0) {
    const uint32_t v = uint32_t{from[0]} << 16 | (rest == 2 ? uint32_t{from[1]} << 8 : 0u);
    std::memcpy(to, &base64_digits[2 * (v >> 12)], 2);
    to[2] = rest == 2 ? base64_digits[2 * ((v & 0xFFF) >> 6) + 1] : '=';
    to[3] = '=';
    to += 4;
  }
  *to++ = '"';
  return to;
}

void put_base64(line_writer* line, byte_view bytes) {
  line->put(put_base64(line->room(base64_size(bytes.size())), bytes));
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

// The first place from i on that may hold a byte to escape (or, Checked,
// one of 0x80 and above), or n: sixteen bytes at a time with SSE2, then
// eight, then the rest is left to the caller.
template <bool Checked>
static size_t skip_plain(const char* chars, size_t i, size_t n) {
#if defined(__SSE2__) && !defined(SARVEK_NO_SIMD)
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), control = _mm_set1_epi8(0x1F);
  for (; n - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + i));
    __m128i flagged = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
    flagged = _mm_or_si128(flagged, _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));
    if (Checked) flagged = _mm_or_si128(flagged, v);  // the high bit of 0x80 and above
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(flagged));
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask));
  }
#endif
  constexpr uint64_t highs = 0x8080808080808080ull;
  for (; n - i >= 8; i += 8) {
    uint64_t w;
    std::memcpy(&w, chars + i, 8);
    if ((Checked ? w & highs : 0) | word_needs_escape(w)) return i;
  }
  return i;
}

// The escape of a byte that needs_escape marks, at most 6 bytes.
static char* put_escape(char* to, unsigned char c) {
  static const char hex[] = "0123456789abcdef";
  const char* const short_form = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n"
                                 : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
  if (short_form) {
    std::memcpy(to, short_form, 2);
    return to + 2;
  }
  std::memcpy(to, "\\u00", 4);
  to[4] = hex[c >> 4];
  to[5] = hex[c & 15];
  return to + 6;
}

static char* put_bytes(char* to, const char* from, size_t n) {
  if (n != 0) std::memcpy(to, from, n);
  return to + n;
}

// Text as a JSON string, ASCII eight bytes at a time. Checked: also checks
// that the text is valid UTF-8, and returns false, with `line` as it was,
// when it is not. The room taken always covers one escape, the rest of the
// text and the closing quote.
template <bool Checked>
static bool put_json_text(line_writer* line, const char* chars, size_t n) {
  const size_t start = line->used;
  char* to = line->room(n + 2);
  *to++ = '"';
  size_t i = 0, plain = 0;
  while ((i = skip_plain<Checked>(chars, i, n)) < n) {
    const auto c = static_cast<uint8_t>(chars[i]);
    if (Checked && c >= 0x80) {
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      const byte_view text(reinterpret_cast<const uint8_t*>(chars), n);
      if (i + length > n || valid_utf8_prefix(text.subspan(i, length)) != length) {
        line->used = start;
        return false;
      }
      i += length;
      continue;
    }
    ++i;
    if (!needs_escape[c]) continue;
    line->put(put_bytes(to, chars + plain, i - 1 - plain));
    to = put_escape(line->room(6 + n - i + 1), c);
    plain = i;
  }
  to = put_bytes(to, chars + plain, n - plain);
  *to++ = '"';
  line->put(to);
  return true;
}

static void put_json_string(line_writer* line, std::string_view s) {
  put_json_text<false>(line, s.data(), s.size());
}

void line_writer::grow(size_t n) {
  buffer.resize(std::max({2 * buffer.size(), used + n, size_t{4096}}));
}

void append_json_string(std::string* out, std::string_view s) {
  line_writer line;
  put_json_string(&line, s);
  out->append(line.view());
}

// An integer at `to` (room for 20 bytes); returns its end.
static char* put_integer(char* to, int64_t v) { return std::to_chars(to, to + 20, v).ptr; }

// A finite real in the shortest form that reads back exactly, always with
// a '.' or an exponent (room for 32 bytes).
static char* put_real(char* to, double v) {
  char* const end = std::to_chars(to, to + 30, v).ptr;
  for (const char* at = to; at < end; ++at)
    if (*at == '.' || *at == 'e') return end;
  std::memcpy(end, ".0", 2);
  return end + 2;
}

static void put_number(line_writer* line, const value_view& v) {
  char* to = line->room(32);
  if (v.kind == value_kind::integer) {
    const bool exact = v.integer <= exact_limit && v.integer >= -exact_limit;
    if (!exact) *to++ = '"';
    to = put_integer(to, v.integer);
    if (!exact) *to++ = '"';
  } else if (std::isnan(v.real)) {
    to = put_bytes(to, "\"NaN\"", 5);
  } else if (std::isinf(v.real)) {
    to = v.real < 0 ? put_bytes(to, "\"-Inf\"", 6) : put_bytes(to, "\"Inf\"", 5);
  } else {
    to = put_real(to, v.real);
  }
  line->put(to);
}

void json_format::value(const value_view& v, std::string_view file) {
  switch (v.kind) {
    case value_kind::null:
    case value_kind::unknown: line_.text("null"); break;
    case value_kind::integer:
    case value_kind::real: put_number(&line_, v); break;
    case value_kind::text:
      if (v.encoding != text_encoding::utf8) {
        scratch_.clear();
        append_utf8(&scratch_, v.bytes, v.encoding);
        put_json_string(&line_, scratch_);
      } else if (!put_json_text<true>(&line_, reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size())) {
        line_.text("{\"type\":\"text\",\"base64\":");
        put_base64(&line_, v.bytes);
        line_.text("}");
      }
      break;
    case value_kind::blob:
      line_.text("{\"type\":\"blob\",");
      if (!file.empty()) {
        line_.text("\"file\":");
        put_json_string(&line_, file);
        line_.text(",");
      } else if (opt_->dump_blobs && v.bytes.size() < opt_->blob_size_limit) {
        line_.text("\"base64\":");
        put_base64(&line_, v.bytes);
        line_.text(",");
      }
      line_.text("\"size\":");
      line_.put(put_integer(line_.room(20), static_cast<int64_t>(v.bytes.size())));
      line_.text("}");
      break;
  }
}

// The name of value i of a record of no table: "c<i>".
static void put_field_name(line_writer* line, size_t i) {
  char* to = put_bytes(line->room(24), "\"c", 2);
  to = put_integer(to, static_cast<int64_t>(i));
  *to++ = '"';
  line->put(to);
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

void json_format::times(const deep_row& row, const table_keys& keys) {
  if (keys.times.empty()) return;
  bool first = true;
  for (size_t i = 0; i < row.values.size() && i < keys.epochs.size(); ++i) {
    if (keys.epochs[i] == time_epoch::none) continue;
    const std::string_view key = keys.times[i];
    char* const start = line_.room(10 + key.size() + time_text_max + 2);
    char* to = put_bytes(start, first ? ",\"times\":{" : ",", first ? 10 : 1);
    to = format_time(row.values[i], keys.epochs[i], put_bytes(to, key.data(), key.size()));
    if (!to) continue;
    line_.put(put_bytes(to, "\"}", 2));
    first = false;
  }
  if (!first) line_.text("}");
}

// The table's JSON pieces, made once: {"table":"name", each column's
// ,"name": key, and each time column's "name":{"epoch":"...","utc":" start.
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
      append_json_name(&keys.columns.emplace_back(","), table->columns[i].name);
      keys.columns.back() += ':';
    }
    const std::vector<time_epoch>* epochs = times_ && table ? times_->of(table) : nullptr;
    keys.epochs = epochs ? *epochs : std::vector<time_epoch>();
    keys.times.clear();
    for (size_t i = 0; i < keys.epochs.size() && i < keys.columns.size(); ++i)
      keys.times.push_back(keys.columns[i].substr(1) + "{\"epoch\":\"" + epoch_name(keys.epochs[i]) + "\",\"utc\":\"");
  }
  last_table_ = table;
  last_keys_ = &keys;
  return keys;
}

// The provenance's named fields, ,"status":"live",...,"page": (they are
// the same for most rows): made once for each status, source and reading.
std::string_view json_format::provenance_head(const deep_row& row) {
  const auto status = static_cast<size_t>(row.status), source = static_cast<size_t>(row.source),
             reading = static_cast<size_t>(row.reading);
  const size_t code = status < 8 && source < 8 && reading < 8 ? status * 64 + source * 8 + reading : 512;
  if (provenance_heads_.empty()) provenance_heads_.resize(513);
  std::string& head = provenance_heads_[code];
  if (head.empty() || code == 512) {
    head.clear();
    const provenance_values fields = provenance_of(row);
    for (size_t i = 0; i < fields.size() && fields[i].is_text(); ++i) {
      head += ",\"" + std::string(provenance_names[i]) + "\":";
      append_json_string(&head, fields[i].text);
    }
  }
  return head;
}

void json_format::values(const deep_row& row, const table_keys& keys) {
  line_.text(",\"values\":{");
  bool first = true;
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (row.values[i].kind == value_kind::unknown) continue;
    if (i < keys.columns.size()) {
      line_.text(std::string_view(keys.columns[i]).substr(first ? 1 : 0));
    } else {
      if (!first) line_.text(",");
      put_field_name(&line_, i);
      line_.text(":");
    }
    first = false;
    value(row.values[i], i < row.blob_files.size() ? std::string_view(row.blob_files[i]) : std::string_view());
  }
  line_.text("}");
}

void json_format::unrecovered(const deep_row& row, const table_keys& keys) {
  line_.text(",\"unrecovered\":[");
  bool first = true;
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (row.values[i].kind != value_kind::unknown) continue;
    if (!first) line_.text(",");
    first = false;
    // The key without its comma and colon: the name in quotes.
    if (i < keys.columns.size()) line_.text(std::string_view(keys.columns[i]).substr(1, keys.columns[i].size() - 2));
    else put_field_name(&line_, i);
  }
  line_.text("]");
}

void json_format::row(std::string* out, const deep_row& row) {
  static const auto provenance_keys = [] {
    std::array<std::string, provenance_names.size()> made;
    for (size_t i = 0; i < made.size(); ++i) made[i] = ",\"" + std::string(provenance_names[i]) + "\":";
    return made;
  }();
  const table_keys& keys = keys_of(row.table);
  line_.used = 0;
  line_.text(keys.head);
  line_.text(provenance_head(row));
  const provenance_values fields = provenance_of(row);
  size_t i = 0;
  while (i < fields.size() && fields[i].is_text()) ++i;  // in the head
  for (; i < fields.size(); ++i) {
    const std::string_view key = provenance_keys[i];
    char* const to = put_bytes(line_.room(key.size() + 20), key.data(), key.size());
    if (fields[i].is_text()) {
      line_.put(to);
      put_json_string(&line_, fields[i].text);
    } else {
      line_.put(fields[i].present ? put_integer(to, fields[i].number) : put_bytes(to, "null", 4));
    }
  }
  values(row, keys);
  unrecovered(row, keys);
  times(row, keys);
  line_.text("}\n");
  out->append(line_.view());
  // A line of a huge value is not kept for the rest of the run.
  if (line_.buffer.size() > line_keep_limit) line_.buffer = std::string();
}
