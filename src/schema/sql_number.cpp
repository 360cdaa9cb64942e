#include "schema/sql_number.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "schema/sql_lexer.h"

namespace {

constexpr int64_t largest_int64 = std::numeric_limits<int64_t>::max();
constexpr int64_t smallest_int64 = std::numeric_limits<int64_t>::min();

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return sql_is_space(static_cast<uint8_t>(c)); }
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// s * 10^(sign * e) with the library's scaling in extended precision.
double scale_decimal(int64_t s, int e, bool negative_exponent) {
  if (e == 0) return static_cast<double>(s);
  long double scale = 1.0L;
  if (e > 307) {
    if (e >= 342) {
      if (negative_exponent) return 0.0 * static_cast<double>(s);
      return std::numeric_limits<double>::infinity() * static_cast<double>(s);
    }
    while (e % 308) {
      scale *= 1.0e+1L;
      e -= 1;
    }
    double result;
    if (negative_exponent) {
      result = static_cast<double>(static_cast<long double>(s) / scale);
      result /= 1.0e+308;
    } else {
      result = static_cast<double>(static_cast<long double>(s) * scale);
      result *= 1.0e+308;
    }
    return result;
  }
  while (e % 22) {
    scale *= 1.0e+1L;
    e -= 1;
  }
  while (e > 0) {
    scale *= 1.0e+22L;
    e -= 22;
  }
  long double v = negative_exponent ? static_cast<long double>(s) / scale
                                    : static_cast<long double>(s) * scale;
  return static_cast<double>(v);
}

// A decimal number as its text spells it: the significand's digits (those
// past its precision only move the point), the point's shift and the
// exponent.
struct decimal_parts {
  int sign = 1;
  int64_t s = 0;        // significand
  int d = 0;            // exponent adjustment for the point's position
  int esign = 1;
  int e = 0;
  bool e_valid = true;  // false when an 'e' has no digits after it
  int digits = 0;
  int kind = 1;         // 1: whole number, 2 and more: point and/or exponent
};

// Reads the sign and the digits before and after the point; returns the
// position after them.
const char* read_significand(const char* z, const char* end, decimal_parts* p) {
  if (*z == '-') {
    p->sign = -1;
    ++z;
  } else if (*z == '+') {
    ++z;
  }
  while (z < end && is_digit(*z)) {
    p->s = p->s * 10 + (*z - '0');
    ++z;
    ++p->digits;
    if (p->s >= (largest_int64 - 9) / 10) {
      // Digits past the significand's precision only move the point.
      while (z < end && is_digit(*z)) {
        ++z;
        ++p->d;
      }
    }
  }
  if (z < end && *z == '.') {
    ++z;
    ++p->kind;
    while (z < end && is_digit(*z)) {
      if (p->s < (largest_int64 - 9) / 10) {
        p->s = p->s * 10 + (*z - '0');
        --p->d;
        ++p->digits;
      }
      ++z;
    }
  }
  return z;
}

// Reads an exponent ('e' or 'E', a sign, digits) if one is at z; returns the
// position after it.
const char* read_exponent(const char* z, const char* end, decimal_parts* p) {
  if (z >= end || (*z != 'e' && *z != 'E')) return z;
  ++z;
  p->e_valid = false;
  ++p->kind;
  if (z >= end) return z;
  if (*z == '-') {
    p->esign = -1;
    ++z;
  } else if (*z == '+') {
    ++z;
  }
  while (z < end && is_digit(*z)) {
    p->e = p->e < 10000 ? (p->e * 10 + (*z - '0')) : 10000;
    ++z;
    p->e_valid = true;
  }
  return z;
}

// The double of the parts: the exponent folded into the significand while
// it stays exact, the rest scaled as the library scales it.
double decimal_value(const decimal_parts& p) {
  int64_t s = p.s;
  int e = p.e * p.esign + p.d;
  const bool negative_exponent = e < 0;
  if (e < 0) e = -e;
  if (s == 0) return p.sign < 0 ? -0.0 : 0.0;
  while (e > 0) {
    if (!negative_exponent) {
      if (s >= largest_int64 / 10) break;
      s *= 10;
    } else {
      if (s % 10 != 0) break;
      s /= 10;
    }
    --e;
  }
  return scale_decimal(p.sign < 0 ? -s : s, e, negative_exponent);
}

}  // namespace

int sql_text_to_real(std::string_view text, double* out) {
  *out = 0.0;
  const char* z = text.data();
  const char* end = z + text.size();
  while (z < end && is_space(*z)) ++z;
  if (z >= end) return 0;
  decimal_parts p;
  z = read_significand(z, end, &p);
  z = read_exponent(z, end, &p);
  while (z < end && is_space(*z)) ++z;
  *out = decimal_value(p);
  if (z == end && p.digits > 0 && p.e_valid && p.kind > 0) return p.kind;
  if (p.kind >= 2 && (p.kind == 3 || p.e_valid) && p.digits > 0) return -1;
  return 0;
}

int sql_text_to_int64(std::string_view text, int64_t* out) {
  const char* z = text.data();
  const char* end = z + text.size();
  bool negative = false;
  while (z < end && is_space(*z)) ++z;
  if (z < end) {
    if (*z == '-') {
      negative = true;
      ++z;
    } else if (*z == '+') {
      ++z;
    }
  }
  const char* start = z;
  while (z < end && *z == '0') ++z;
  uint64_t u = 0;
  size_t i = 0;
  for (; z + i < end && is_digit(z[i]); ++i) u = u * 10 + static_cast<uint64_t>(z[i] - '0');
  if (u > static_cast<uint64_t>(largest_int64)) {
    *out = negative ? smallest_int64 : largest_int64;
  } else {
    *out = negative ? -static_cast<int64_t>(u) : static_cast<int64_t>(u);
  }
  int rc = 0;
  if (i == 0 && start == z) {
    rc = -1;
  } else {
    for (size_t j = i; z + j < end; ++j) {
      if (!is_space(z[j])) {
        rc = 1;
        break;
      }
    }
  }
  if (i < 19) return rc;
  // 19 digits or more: compare with 9223372036854775808.
  int c = 1;
  if (i == 19) c = std::memcmp(z, "9223372036854775808", 19) < 0 ? -1 : (std::memcmp(z, "9223372036854775808", 19) > 0 ? 1 : 0);
  if (c < 0) return rc;
  *out = negative ? smallest_int64 : largest_int64;
  if (c > 0) return 2;
  return negative ? rc : 3;
}

bool sql_literal_int32(std::string_view literal, int32_t* out) {
  size_t i = 0;
  if (literal.size() >= 3 && literal[0] == '0' && (literal[1] == 'x' || literal[1] == 'X') &&
      hex_value(literal[2]) >= 0) {
    i = 2;
    while (i < literal.size() && literal[i] == '0') ++i;
    uint32_t u = 0;
    size_t n = 0;
    for (; n < 8 && i + n < literal.size() && hex_value(literal[i + n]) >= 0; ++n)
      u = u * 16 + static_cast<uint32_t>(hex_value(literal[i + n]));
    if ((u & 0x80000000u) != 0 || (i + n < literal.size() && hex_value(literal[i + n]) >= 0)) return false;
    *out = static_cast<int32_t>(u);
    return true;
  }
  if (literal.empty() || !is_digit(literal[0])) return false;
  while (i < literal.size() && literal[i] == '0') ++i;
  int64_t v = 0;
  size_t n = 0;
  for (; n < 11 && i + n < literal.size() && is_digit(literal[i + n]); ++n) v = v * 10 + (literal[i + n] - '0');
  if (n > 10 || v > 2147483647) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool sql_real_is_int(double r, int64_t i) {
  double r2 = static_cast<double>(i);
  return r == 0.0 || (std::memcmp(&r, &r2, sizeof r) == 0 && i >= -2251799813685248LL &&
                      i < 2251799813685248LL);
}

int64_t sql_real_to_int64(double r) {
  if (r < -9223372036854774784.0) return smallest_int64;
  if (r > 9223372036854774784.0) return largest_int64;
  return static_cast<int64_t>(r);
}
