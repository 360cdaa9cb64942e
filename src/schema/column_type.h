// A column's declared type, read as the library reads it: the text that
// PRAGMA table_info reports, the affinity, the standard type names.
#pragma once
#include <string>
#include <string_view>

#include "schema/table_def.h"

// The type names the library knows by name (any case, quotes allowed).
enum class standard_type : uint8_t { none, any, blob, int_, integer, real, text };

struct column_type {
  std::string declared;  // as PRAGMA table_info reports it
  standard_type standard = standard_type::none;
  affinity type_affinity = affinity::blob;
};

// span: the statement's text from the first word of the type to its last
// token (the closing parenthesis of "(10)" included), comments and all; empty
// when the column has no type.
column_type read_column_type(std::string_view span);

// The affinity of a type name: INT -> integer; CHAR, CLOB, TEXT -> text; BLOB
// -> blob; REAL, FLOA, DOUB -> real; anything else -> numeric.
affinity type_name_affinity(std::string_view type);

// The column type of a STRICT table: none for a type a STRICT table refuses.
strict_type strict_type_of(standard_type t);
