// A column's DEFAULT clause and the value the library reads from it for a
// record that ends before the column.
#pragma once
#include <string>

#include "schema/sql_lexer.h"
#include "schema/table_def.h"

// A DEFAULT clause reduced to what its value depends on: a literal under
// unary signs. Parentheses are transparent, as they are to the library.
struct default_expr {
  bool simple = false;      // false: an expression beyond a signed literal
  std::string signs;        // '-' and '+' applied to the literal, outermost first
  token literal;            // NULL, a number, a 'string', x'blob', a name
  bool name_is_text = false;  // DEFAULT name, outside parentheses: a text
};

// The value read for a missing column of this affinity: the literal with the
// affinity applied as the library applies it (DEFAULT '5' on an INTEGER
// column reads 5, DEFAULT 5 on a TEXT column '5', on a REAL column 5.0).
// value_kind::unknown for what cannot be evaluated exactly here
// (CURRENT_TIME, expressions).
sql_value evaluate_default(const default_expr& e, affinity column_affinity);
