// Digit scanning for the loader's hot loop, inline so that a field's
// number is converted without a call. Only the number conversions (both
// ways) and the loader include this; everything else uses number_parse.h.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "table/encoding.h"
#include "table/number_parse.h"

namespace dbcpack {

inline bool IsSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

constexpr std::uint64_t kPowersOf10[] = {1,      10,      100,      1000,     10000,
                                         100000, 1000000, 10000000, 100000000};

// Number of ASCII digits at the start of the word, 0 to 8, found without a
// branch per byte: a byte is a digit when its value minus '0' is below 10.
inline int LeadingDigits(std::uint64_t word) {
  const std::uint64_t x = word ^ 0x3030303030303030u;
  const std::uint64_t notDigit =
      (((x & 0x7F7F7F7F7F7F7F7Fu) + 0x7676767676767676u) | x) & 0x8080808080808080u;
  return notDigit == 0 ? 8 : std::countr_zero(notDigit) >> 3;
}

// Value of the first `count` (1 to 8) digits of the word: the digits are
// moved to the top, the bytes below become leading zeros, and pairs, quads
// and the whole are combined with three multiplies.
inline std::uint64_t DigitsValue(std::uint64_t word, int count) {
  std::uint64_t x = (word ^ 0x3030303030303030u) << (8 * (8 - count));
  x = x * 10 + (x >> 8);
  x = (((x & 0x000000FF000000FFu) * 0x000F424000000064u) +
       (((x >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >>
      32;
  return x & 0xFFFFFFFFu;
}

// Appends the run of digits at `p` to `value` (modulo 2^64; callers count
// the digits to know when it is exact) and returns the end of the run.
inline const char* AccumulateDigits(const char* p, const char* const end, std::uint64_t& value) {
  while (end - p >= 8) {
    const std::uint64_t word = Load8(p);
    const int count = LeadingDigits(word);
    if (count == 0) return p;
    value = value * kPowersOf10[count] + DigitsValue(word, count);
    p += count;
    if (count < 8) return p;
  }
  for (; p != end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  return p;
}

// AccumulateDigits for a value that starts at 0, shaped for the usual run
// of fewer than eight digits: one word, no multiply by a power of ten.
inline const char* ReadDigits(const char* p, const char* const end, std::uint64_t& value) {
  value = 0;
  if (end - p < 8) return AccumulateDigits(p, end, value);
  const std::uint64_t word = Load8(p);
  const int count = LeadingDigits(word);
  if (count == 0) return p;
  value = DigitsValue(word, count);
  return count < 8 ? p + count : AccumulateDigits(p + 8, end, value);
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// An exponent's value stops growing once past this, so that it stays
// below 10^18 + 10: far beyond any decimal a double can tell from zero or
// infinity, and far from overflowing when the number of digits (at most
// the size of a file) is added to it.
constexpr std::int64_t kExponentLimit = 100000000000000000;

// What the decimal grammar found at the start of a text: white space, an
// optional sign, digits with an optional full stop, and an optional
// exponent introduced by e, E, d or D with an optional sign and at least
// one digit. The text is scanned once; both conversions work from this.
struct DecimalScan {
  const char* integerBegin;  // the integer digits
  const char* integerEnd;
  const char* fractionBegin;  // the fraction digits, empty without a point
  const char* fractionEnd;
  const char* end;         // where the number stopped
  std::uint64_t mantissa;  // all the digits as one integer, modulo 2^64
  std::int64_t exponent;   // the exponent's value, within +-kExponentLimit
  bool negative;

  std::ptrdiff_t DigitCount() const {
    return (integerEnd - integerBegin) + (fractionEnd - fractionBegin);
  }
};

// Skips leading white space and an optional sign, as strtol and strtod do.
// The sign is taken without a branch: it is as likely one way as the other.
inline const char* SkipSpaceAndSign(const char* p, const char* const end, bool& negative) {
  // Every white space byte is at most ' ', and numbers seldom start with
  // one: a single test for the usual case.
  if (p != end && static_cast<unsigned char>(*p) <= ' ') {
    while (p != end && IsSpace(static_cast<unsigned char>(*p))) ++p;
  }
  negative = false;
  if (p != end) {
    negative = *p == '-';
    p += static_cast<int>(negative) | static_cast<int>(*p == '+');
  }
  return p;
}

// The exponent part at `p`, if there is one; returns where it ends, `p`
// itself when the letter is not followed by digits and so is not part of
// the number.
inline const char* ScanExponent(const char* p, const char* const end, std::int64_t& exponent) {
  exponent = 0;
  // e, E, d or D: setting the 0x20 bit folds the capitals onto the small
  // letters, and nothing else lands on 'e' or 'd'.
  if (p == end || ((*p | 0x20) != 'e' && (*p | 0x20) != 'd')) return p;
  const char* q = p + 1;
  bool exponentNegative = false;
  if (q != end) {
    exponentNegative = *q == '-';
    q += static_cast<int>(exponentNegative) | static_cast<int>(*q == '+');
  }
  if (q == end || !IsDigit(static_cast<unsigned char>(*q))) return p;
  for (; q != end && IsDigit(static_cast<unsigned char>(*q)); ++q) {
    if (exponent < kExponentLimit) exponent = exponent * 10 + (*q - '0');
  }
  if (exponentNegative) exponent = -exponent;
  return q;
}

inline DecimalScan ScanDecimal(const char* p, const char* const end) {
  DecimalScan scan{};
  p = SkipSpaceAndSign(p, end, scan.negative);
  scan.integerBegin = p;
  p = ReadDigits(p, end, scan.mantissa);
  scan.integerEnd = p;
  scan.fractionBegin = scan.fractionEnd = p;
  if (p != end && *p == '.') {
    scan.fractionBegin = ++p;
    p = AccumulateDigits(p, end, scan.mantissa);
    scan.fractionEnd = p;
  }
  scan.exponent = 0;
  // Without a digit there is no number, and an exponent cannot follow.
  if (scan.DigitCount() != 0) p = ScanExponent(p, end, scan.exponent);
  scan.end = p;
  return scan;
}

// The general conversion, for what the short one cannot take exactly: more
// than 19 digits, mantissas past 2^53, large exponents.
double ConvertDecimalSlow(const DecimalScan& scan);

inline const char* ParseIntPrefix(const char* p, const char* const end, std::int32_t& result) {
  bool negative;
  p = SkipSpaceAndSign(p, end, negative);
  const char* const digits = p;
  std::uint64_t value;
  p = ReadDigits(p, end, value);
  if (p - digits > 10) {
    // More digits than any 32-bit value has: past the range unless they are
    // mostly leading zeros.
    const char* first = digits;
    while (first != p && *first == '0') ++first;
    if (p - first > 10) value = std::uint64_t{1} << 32;
  }
  // Clamp to INT32_MAX, or to -INT32_MIN for a negative value, then apply
  // the sign; written as selects, which compile without branches.
  const std::uint64_t limit = std::uint64_t{0x7FFFFFFF} + static_cast<unsigned>(negative);
  const auto magnitude = static_cast<std::int64_t>(value < limit ? value : limit);
  result = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return p;
}

inline void ConvertSlow(const DecimalScan& scan, double& result) {
  result = ConvertDecimalSlow(scan);
}

inline void ConvertSlow(const DecimalScan& scan, float& result) {
  result = RoundToFloat(ConvertDecimalSlow(scan));
}

// Powers of ten as the nearest doubles, exact up to 10^22.
constexpr double kRoundedPowers[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12,
    1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25,
    1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38,
    1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49, 1e50, 1e51,
    1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63, 1e64};

// A float field's decimal whose scale is past the exact powers: mantissa x
// 10^scale computed in doubles with a rounded power of ten is within two
// units in the last place of the exact value, and of the double the exact
// conversion rounds it to. When no point halfway between two floats lies
// within four such units, all three round to the same float, which is
// then the result; otherwise, or outside the range of normal floats, it
// declines and the general conversion decides.
inline bool ApproximateFloat(std::uint64_t mantissa, std::int64_t scale, bool negative,
                             float& result) {
  constexpr std::int64_t kRange = std::size(kRoundedPowers) - 1;
  if (scale < -kRange || scale > kRange) return false;
  const auto m = static_cast<double>(mantissa);  // exact: at most 2^53
  const double value = scale < 0 ? m / kRoundedPowers[-scale] : m * kRoundedPowers[scale];
  // Normal floats, away from the smallest and from overflow.
  if (!(value >= 0x1p-125 && value <= 0x1p127)) return false;
  // Below a float's precision a double has 29 more bits; halfway between
  // two floats they read 1 followed by 28 zeros.
  const std::uint64_t low = std::bit_cast<std::uint64_t>(value) & ((std::uint64_t{1} << 29) - 1);
  if (low - (std::uint64_t{1} << 28) + 4 <= 8) return false;
  result = static_cast<float>(negative ? -value : value);
  return true;
}

inline bool ApproximateSlow(const DecimalScan&, std::int64_t, double&) { return false; }

inline bool ApproximateSlow(const DecimalScan& scan, std::int64_t scale, float& result) {
  return scan.DigitCount() <= 19 && scan.mantissa <= (std::uint64_t{1} << 53) &&
         ApproximateFloat(scan.mantissa, scale, scan.negative, result);
}

// The conversions past the short one, out of line and given the scan by
// value, so that the scan stays in registers on the way to the short one.
template <typename Number>
// cppcheck-suppress passedByValue
[[gnu::noinline]] void ConvertOutOfLine(const DecimalScan scan, std::int64_t scale,
                                        Number& result) {
  if (!ApproximateSlow(scan, scale, result)) ConvertSlow(scan, result);
}

// mantissa x 10^scale, for a mantissa of at most 2^53 and a scale within
// +-22: both operands are exact, so one multiply or divide rounds
// correctly; the other operation is by 1, exact, and saves a branch on the
// sign of the scale. The writer of floats checks its decimals with this
// too, so that they are read back exactly as the loader reads them.
inline double ShortDecimal(std::uint64_t mantissa, std::int64_t scale) {
  const std::int64_t up = scale > 0 ? scale : 0;
  const std::int64_t down = scale < 0 ? -scale : 0;
  return static_cast<double>(mantissa) * kExactPowers[up] / kExactPowers[down];
}

// The decimal conversion into a double, or straight into a float: values of
// the short conversion are at most 2^53 x 10^22, well inside the float
// range, so the double needs no range check before it is narrowed and the
// store does not wait on a branch that depends on the division.
template <typename Number>
[[gnu::always_inline]] inline const char* ParseDecimalPrefix(const char* p, const char* const end,
                                                             Number& result) {
  const DecimalScan scan = ScanDecimal(p, end);
  const std::ptrdiff_t digits = scan.DigitCount();
  if (digits == 0) {
    result = 0;
    return scan.end;
  }
  const std::int64_t scale = scan.exponent - (scan.fractionEnd - scan.fractionBegin);
  // The common short decimal: at most 19 digits in all, so the mantissa is
  // exact in 64 bits, and a small power-of-ten scale.
  if (digits > 19 || scan.mantissa > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) {
    ConvertOutOfLine(scan, scale, result);
    return scan.end;
  }
  const double value = ShortDecimal(scan.mantissa, scale);
  result = static_cast<Number>(scan.negative ? -value : value);
  return scan.end;
}

// The plain shapes of a field that most tables hold, read with no test of
// the text's end. REQUIRES (both): eight bytes can be read from any place
// up to the end of the field's line, and the byte at that end is not a
// digit, a point or an exponent letter. Each returns where the number
// stopped, or null for any other shape (spaces, '+', exponents, more
// digits), which the general conversion then takes from `p`; for what it
// takes, the result is the general conversion's.

// [-]digits with at most 15 digits: one or two words of digits, a clamp,
// and the sign.
inline const char* ReadShortInt(const char* p, std::int32_t& result) {
  const bool negative = *p == '-';
  p += static_cast<int>(negative);
  std::uint64_t word = Load8(p);
  int count = LeadingDigits(word);
  if (count == 0) return nullptr;
  std::uint64_t value = DigitsValue(word, count);
  if (count == 8) {
    word = Load8(p + 8);
    const int more = LeadingDigits(word);
    if (more == 8) return nullptr;
    if (more != 0) value = value * kPowersOf10[more] + DigitsValue(word, more);
    count += more;
  }
  // Below 10^15, so exact; past the range it clamps as the general one does.
  const std::uint64_t limit = std::uint64_t{0x7FFFFFFF} + static_cast<unsigned>(negative);
  const auto magnitude = static_cast<std::int64_t>(value < limit ? value : limit);
  result = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return p + count;
}

// The exponent of a short float at `p` (an e or E): an optional sign and
// one or two digits, added to `scale`; null for any other exponent.
inline const char* ReadShortExponent(const char* p, std::int64_t& scale) {
  ++p;
  const bool negative = *p == '-';
  p += static_cast<int>(negative) | static_cast<int>(*p == '+');
  const int count = LeadingDigits(Load8(p));
  if (count == 0 || count > 2) return nullptr;
  const int exponent = count == 1 ? p[0] - '0' : (p[0] - '0') * 10 + (p[1] - '0');
  scale += negative ? -exponent : exponent;
  return p + count;
}

// [-]digits[.digits][(e|E)[sign]digits] with one to seven digits before the
// point, one to seven after it and one or two in the exponent: the
// mantissa is below 2^53, so with a scale within the powers of ten a
// double holds exactly, one multiply or divide rounds it correctly, as in
// the general conversion.
inline const char* ReadShortFloat(const char* p, float& result) {
  const bool negative = *p == '-';
  p += static_cast<int>(negative);
  std::uint64_t word = Load8(p);
  const int count = LeadingDigits(word);
  if (count == 0 || count == 8) return nullptr;
  std::uint64_t mantissa = DigitsValue(word, count);
  p += count;
  std::int64_t scale = 0;
  if (*p == '.') {
    word = Load8(p + 1);
    const int decimals = LeadingDigits(word);
    if (decimals == 0 || decimals == 8) return nullptr;
    mantissa = mantissa * kPowersOf10[decimals] + DigitsValue(word, decimals);
    p += 1 + decimals;
    scale = -decimals;
  }
  double value = static_cast<double>(mantissa);
  if ((*p | 0x20) == 'e') {
    p = ReadShortExponent(p, scale);
    if (p == nullptr || scale < -22 || scale > 22) return nullptr;
    if (scale > 0) value *= kExactPowers[scale];
  } else if ((*p | 0x20) == 'd') {
    return nullptr;
  }
  if (scale < 0) value /= kExactPowers[-scale];
  result = static_cast<float>(negative ? -value : value);
  return p;
}

inline const char* ParseDoublePrefix(const char* p, const char* const end, double& result) {
  return ParseDecimalPrefix(p, end, result);
}

inline const char* ParseFloatPrefix(const char* p, const char* const end, float& result) {
  return ParseDecimalPrefix(p, end, result);
}

}  // namespace dbcpack
