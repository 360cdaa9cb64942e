// Text to number, as the library converts a text when it applies a numeric
// affinity: the same accepted forms, the same rounding, the same results.
#pragma once
#include <cstdint>
#include <string_view>

// Reads a decimal real with optional sign, fraction and exponent, leading and
// trailing whitespace allowed. Returns 1 for a whole number, 2 or more for a
// number with a point or an exponent, -1 for a valid real prefix with a point
// or an exponent followed by other text, 0 for anything else. *out holds the
// value of the prefix that was read.
int sql_text_to_real(std::string_view text, double* out);

// Reads a decimal integer with optional sign and surrounding whitespace.
// Returns 0 when it fits in 64 bits, -1 for no digits at all, 1 for other
// text after it, 2 for an overflow, 3 for exactly 9223372036854775808.
// *out holds the value read (clamped on overflow).
int sql_text_to_int64(std::string_view text, int64_t* out);

// An integer literal's value when it fits in 0..2147483647 (decimal or
// 0x hex), as the parser reads small integer literals.
bool sql_literal_int32(std::string_view literal, int32_t* out);

// A double that holds an integer value read as that integer (the library's
// test before it stores a real as an integer).
bool sql_real_is_int(double r, int64_t i);
// A double clamped into the 64-bit integer range and truncated.
int64_t sql_real_to_int64(double r);
