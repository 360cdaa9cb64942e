// One value of a record, as a view into the bytes it was read from.
#pragma once
#include <cstdint>

#include "format/bytes.h"
#include "format/db_header.h"

enum class value_kind : uint8_t { null, integer, real, text, blob, unknown };

struct value_view {
  value_kind kind = value_kind::null;  // unknown: a value that could not be recovered
  text_encoding encoding = text_encoding::utf8;  // of a text's bytes
  int64_t integer = 0;
  double real = 0;
  byte_view bytes;                     // a text's or a blob's bytes
};

inline value_view null_value() { return {}; }
inline value_view unknown_value() { return {value_kind::unknown, text_encoding::utf8, 0, 0, {}}; }
inline value_view integer_value(int64_t v) { return {value_kind::integer, text_encoding::utf8, v, 0, {}}; }
inline value_view real_value(double v) { return {value_kind::real, text_encoding::utf8, 0, v, {}}; }
