#include "schema/default_value.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "schema/sql_number.h"

namespace {

constexpr int64_t largest_int64 = std::numeric_limits<int64_t>::max();
constexpr int64_t smallest_int64 = std::numeric_limits<int64_t>::min();

sql_value make_integer(int64_t v) {
  sql_value out;
  out.kind = value_kind::integer;
  out.integer = v;
  return out;
}
sql_value make_real(double v) {
  sql_value out;
  out.kind = value_kind::real;
  out.real = v;
  return out;
}
sql_value make_text(std::string s) {
  sql_value out;
  out.kind = value_kind::text;
  out.bytes = std::move(s);
  return out;
}
sql_value make_unknown() {
  sql_value out;
  out.kind = value_kind::unknown;
  return out;
}

bool is_numeric_affinity(affinity a) {
  return a == affinity::numeric || a == affinity::integer || a == affinity::real;
}

// A real that holds a whole number inside the 64-bit range becomes that integer.
void real_to_integer_if_exact(sql_value* v) {
  double r = v->real;
  int64_t ix;
  if (r <= static_cast<double>(smallest_int64)) {
    ix = smallest_int64;
  } else if (r >= static_cast<double>(largest_int64)) {
    ix = largest_int64;
  } else {
    ix = static_cast<int64_t>(r);
  }
  if (r == static_cast<double>(ix) && ix > smallest_int64 && ix < largest_int64) *v = make_integer(ix);
}

// A text that reads fully as a number becomes that number; a whole number
// that fits stays an integer.
void text_to_number(sql_value* v) {
  double r;
  int rc = sql_text_to_real(v->bytes, &r);
  if (rc <= 0) return;
  if (rc == 1) {
    int64_t i = sql_real_to_int64(r);
    if (sql_real_is_int(r, i) || sql_text_to_int64(v->bytes, &i) == 0) {
      *v = make_integer(i);
      return;
    }
  }
  *v = make_real(r);
  real_to_integer_if_exact(v);
}

// Applies the affinity as the library does to a value it computes; false when
// the result would be a real written as text (not reproduced here).
bool apply_affinity(sql_value* v, affinity a) {
  if (is_numeric_affinity(a)) {
    if (v->kind == value_kind::text) {
      text_to_number(v);
    } else if (v->kind == value_kind::real) {
      real_to_integer_if_exact(v);
    }
  } else if (a == affinity::text) {
    if (v->kind == value_kind::integer) {
      *v = make_text(std::to_string(v->integer));
    } else if (v->kind == value_kind::real) {
      return false;
    }
  }
  return true;
}

// Any value to a number, as unary minus needs it.
void to_number(sql_value* v) {
  if (v->kind != value_kind::text) return;
  double r;
  int rc = sql_text_to_real(v->bytes, &r);
  int64_t ix = 0;
  if (((rc == 0 || rc == 1) && sql_text_to_int64(v->bytes, &ix) <= 1) ||
      sql_real_is_int(r, ix = sql_real_to_int64(r))) {
    *v = make_integer(ix);
  } else {
    *v = make_real(r);
  }
}

std::optional<std::string> blob_bytes(std::string_view literal) {
  // x'....': an even count of hex digits between the quotes.
  std::string out;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
  };
  for (size_t i = 2; i + 2 < literal.size(); i += 2)
    out += static_cast<char>((nibble(literal[i]) << 4) | nibble(literal[i + 1]));
  return out;
}

bool is_true_or_false(const token& t, bool* value) {
  if (!t.is_id() || t.text.empty() || sql_is_quote(static_cast<uint8_t>(t.text[0]))) return false;
  if (sql_iequal(t.text, "true")) {
    *value = true;
    return true;
  }
  if (sql_iequal(t.text, "false")) {
    *value = false;
    return true;
  }
  return false;
}

bool is_number(const token& t) { return t.is(token_kind::integer) || t.is(token_kind::real); }

// A number literal under at most one minus sign: the parser's own form.
sql_value number_literal(const token& t, bool negative, affinity a) {
  sql_value v;
  int32_t small;
  if (t.is(token_kind::integer) && sql_literal_int32(t.text, &small)) {
    v = make_integer(negative ? -int64_t{small} : int64_t{small});
  } else {
    v = make_text((negative ? "-" : "") + std::string(t.text));
  }
  // A number under no affinity takes the numeric one.
  if (!apply_affinity(&v, a == affinity::blob ? affinity::numeric : a)) return make_unknown();
  return v;
}

std::optional<sql_value> evaluate(const default_expr& e, size_t sign, affinity a) {
  while (sign < e.signs.size() && e.signs[sign] == '+') ++sign;
  const token& t = e.literal;
  if (sign == e.signs.size()) {
    bool truth;
    if (t.is(kw::null)) return sql_value{};
    if (is_number(t)) return number_literal(t, false, a);
    if (t.is(token_kind::blob)) {
      sql_value v;
      v.kind = value_kind::blob;
      v.bytes = *blob_bytes(t.text);
      return v;
    }
    if (is_true_or_false(t, &truth)) return make_integer(truth ? 1 : 0);
    if (t.is(token_kind::string) || (e.name_is_text && t.is_id())) {
      sql_value v = make_text(sql_dequote(t.text));
      if (!apply_affinity(&v, a)) return std::nullopt;
      return v;
    }
    return std::nullopt;
  }
  // A minus sign.
  if (sign + 1 == e.signs.size() && is_number(t)) return number_literal(t, true, a);
  if (t.is(token_kind::blob)) return std::nullopt;
  std::optional<sql_value> inner = evaluate(e, sign + 1, a);
  if (!inner || inner->kind == value_kind::unknown) return std::nullopt;
  sql_value v = *inner;
  if (v.kind == value_kind::null) return v;
  to_number(&v);
  if (v.kind == value_kind::real) {
    v.real = -v.real;
  } else if (v.integer == smallest_int64) {
    v = make_real(-static_cast<double>(smallest_int64));
  } else {
    v.integer = -v.integer;
  }
  if (!apply_affinity(&v, a)) return std::nullopt;
  return v;
}

}  // namespace

sql_value evaluate_default(const default_expr& e, affinity column_affinity) {
  if (!e.simple) return make_unknown();
  std::optional<sql_value> v = evaluate(e, 0, column_affinity);
  if (!v || v->kind == value_kind::unknown) return make_unknown();
  // A REAL column reads an integer as a real.
  if (column_affinity == affinity::real && v->kind == value_kind::integer)
    *v = make_real(static_cast<double>(v->integer));
  return *v;
}
