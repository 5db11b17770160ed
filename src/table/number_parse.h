// The value conversions of numeric fields. They never fail: text that is not
// a number converts to 0. They follow the C library's strtol and atof, but
// exactly and identically on every host and in every locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace dbcpack {

// strtol in base 10 limited to 32 bits: leading white space (space and bytes
// 9 to 13), an optional sign, digits up to the first non-digit; out-of-range
// values clamp to INT32_MIN or INT32_MAX.
std::int32_t ParseInt(std::string_view text);

// Low 8 bits of ParseInt.
inline std::uint8_t ParseByte(std::string_view text) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(ParseInt(text)) & 0xFFu);
}

// atof: the longest prefix of white space, sign, digits with an optional
// full stop, and an exponent introduced by e, E, d or D, to the nearest
// double. No hexadecimal, infinity or not-a-number words. Too large gives
// an infinity of its sign.
double ParseDouble(std::string_view text);

// RoundToFloat for values outside [-FLT_MAX, FLT_MAX], NaN included.
float RoundOutOfRangeToFloat(double value);

// ParseDouble rounded to the nearest float (overflow gives infinity).
float ParseFloat(std::string_view text);

// How many bytes at the start of `text` ParseInt (or ParseDouble) reads as
// its number, white space and sign included; 0 when they hold no digit.
// A text is a number in full when that is all of it.
std::size_t IntLength(std::string_view text);
std::size_t DecimalLength(std::string_view text);

// The double to float rounding used by ParseFloat, defined for all inputs:
// past the largest float (by half a unit in its last place or more) gives
// an infinity, as IEEE rounding does.
inline float RoundToFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value >= -kMax && value <= kMax) return static_cast<float>(value);
  return RoundOutOfRangeToFloat(value);
}

}  // namespace dbcpack
