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

}  // namespace

int sql_text_to_real(std::string_view text, double* out) {
  *out = 0.0;
  const char* z = text.data();
  const char* end = z + text.size();
  int sign = 1;
  int64_t s = 0;     // significand
  int d = 0;         // exponent adjustment for the point's position
  int esign = 1;
  int e = 0;
  bool e_valid = true;
  int digits = 0;
  int kind = 1;      // 1: whole number, 2 and more: point and/or exponent

  while (z < end && is_space(*z)) ++z;
  if (z >= end) return 0;
  if (*z == '-') {
    sign = -1;
    ++z;
  } else if (*z == '+') {
    ++z;
  }
  while (z < end && is_digit(*z)) {
    s = s * 10 + (*z - '0');
    ++z;
    ++digits;
    if (s >= (largest_int64 - 9) / 10) {
      // Digits past the significand's precision only move the point.
      while (z < end && is_digit(*z)) {
        ++z;
        ++d;
      }
    }
  }
  if (z < end && *z == '.') {
    ++z;
    ++kind;
    while (z < end && is_digit(*z)) {
      if (s < (largest_int64 - 9) / 10) {
        s = s * 10 + (*z - '0');
        --d;
        ++digits;
      }
      ++z;
    }
  }
  if (z < end && (*z == 'e' || *z == 'E')) {
    ++z;
    e_valid = false;
    ++kind;
    if (z < end) {
      if (*z == '-') {
        esign = -1;
        ++z;
      } else if (*z == '+') {
        ++z;
      }
      while (z < end && is_digit(*z)) {
        e = e < 10000 ? (e * 10 + (*z - '0')) : 10000;
        ++z;
        e_valid = true;
      }
    }
  }
  while (z < end && is_space(*z)) ++z;

  e = e * esign + d;
  bool negative_exponent = e < 0;
  if (e < 0) e = -e;
  if (s == 0) {
    *out = sign < 0 ? -0.0 : 0.0;
  } else {
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
    *out = scale_decimal(sign < 0 ? -s : s, e, negative_exponent);
  }
  if (z == end && digits > 0 && e_valid && kind > 0) return kind;
  if (kind >= 2 && (kind == 3 || e_valid) && digits > 0) return -1;
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
