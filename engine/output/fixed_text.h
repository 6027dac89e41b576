// Fixed notation with 6 decimals, the text of printf's "%.6f" in the C locale, without printf.
// The shape columns of the result databases hold millions of these numbers per sample.
#pragma once

#include <cstddef>

namespace korvane {

// Longest text write_fixed6 can produce: sign, 309 integer digits of DBL_MAX, point, 6 decimals.
inline constexpr std::size_t kFixed6MaxChars = 320;

// Writes v at out (at least kFixed6MaxChars of room) with exactly 6 digits after the point,
// correctly rounded, ties to even, "-" for every value with the sign bit set (so -0.0 gives
// "-0.000000"), and "nan", "-nan", "inf", "-inf" for the non-finite values. Returns the end.
char* write_fixed6(char* out, double v);

}  // namespace korvane
