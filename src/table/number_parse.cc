// Numeric field conversions. They scan the bytes themselves rather than call
// strtol or strtod: those follow the locale, accept hexadecimal, "inf" and
// "nan", and strtol's long is 64 bits on some hosts and 32 on others.
#include "table/number_parse.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "table/number_scan.h"

namespace dbcpack {

std::int32_t ParseInt(std::string_view text) {
  std::int32_t value;
  ParseIntPrefix(text.data(), text.data() + text.size(), value);
  return value;
}

// The general conversion, for what the fast path below cannot take exactly:
// more than 19 digits, mantissas past 2^53, large exponents. `p` is just
// behind the optional sign; returns where the number stopped.
const char* ParseDoubleSlow(const char* p, const char* const end, bool negative, double& result) {
  // Mantissa: digits, an optional full stop, digits; at least one digit.
  const char* const mantissaBegin = p;
  std::uint64_t mantissa = 0;
  int significant = 0;    // digits taken into `mantissa`, leading zeros excluded
  int dropped = 0;        // integer digits that did not fit into `mantissa`
  int fractionTaken = 0;  // fraction digits taken into `mantissa`
  bool anyDigit = false;
  bool exactMantissa = true;
  for (; p != end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
    anyDigit = true;
    if (significant == 0 && *p == '0') continue;
    if (significant < 19) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      ++significant;
    } else {
      ++dropped;
      if (*p != '0') exactMantissa = false;
    }
  }
  const char* const integerEnd = p;
  if (p != end && *p == '.') {
    ++p;
    for (; p != end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
      anyDigit = true;
      if (significant == 0 && *p == '0') {
        ++fractionTaken;  // a leading zero still scales the value
        continue;
      }
      if (significant < 19) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        ++significant;
        ++fractionTaken;
      } else if (*p != '0') {
        exactMantissa = false;
      }
    }
  }
  if (!anyDigit) {
    result = 0.0;
    return p;
  }
  const char* const mantissaEnd = p;

  // Exponent: e, E, d or D, an optional sign, at least one digit; otherwise
  // the letter is not part of the number.
  std::int64_t exponent = 0;
  const char* exponentDigits = nullptr;
  bool exponentNegative = false;
  if (p != end && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
    const char* q = p + 1;
    if (q != end && (*q == '+' || *q == '-')) {
      exponentNegative = *q == '-';
      ++q;
    }
    if (q != end && IsDigit(static_cast<unsigned char>(*q))) {
      exponentDigits = q;
      for (; q != end && IsDigit(static_cast<unsigned char>(*q)); ++q) {
        if (exponent < 100000000) exponent = exponent * 10 + (*q - '0');
      }
      if (exponentNegative) exponent = -exponent;
      p = q;
    }
  }

  // The value is mantissa x 10^scale.
  const std::int64_t scale = exponent + dropped - fractionTaken;
  if (mantissa == 0) {
    result = negative ? -0.0 : 0.0;
    return p;
  }
  if (exactMantissa && mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
    // Both operands are exact, so one multiply or divide rounds correctly.
    double value = static_cast<double>(mantissa);
    value = scale < 0 ? value / kExactPowers[-scale] : value * kExactPowers[scale];
    result = negative ? -value : value;
    return p;
  }

  // Everything else: from_chars on a normalised copy of the checked prefix
  // (no '+', 'e' for the exponent letter).
  char small[128];
  std::string large;
  const std::size_t mantissaLength = static_cast<std::size_t>(mantissaEnd - mantissaBegin);
  const std::size_t exponentLength =
      exponentDigits ? static_cast<std::size_t>(p - exponentDigits) : 0;
  const std::size_t needed = mantissaLength + exponentLength + 3;
  char* out = small;
  if (needed > sizeof small) {
    large.resize(needed);
    out = large.data();
  }
  char* w = out;
  std::memcpy(w, mantissaBegin, mantissaLength);
  w += mantissaLength;
  if (exponentDigits) {
    *w++ = 'e';
    if (exponentNegative) *w++ = '-';
    std::memcpy(w, exponentDigits, exponentLength);
    w += exponentLength;
  }
  double value = 0.0;
  if (std::from_chars(out, w, value, std::chars_format::general).ec ==
      std::errc::result_out_of_range) {
    // from_chars reports overflow and underflow alike; tell them apart by
    // the decimal position of the first significant digit.
    std::int64_t magnitude = 0;
    const char* firstNonZero = mantissaBegin;
    while (firstNonZero != mantissaEnd && (*firstNonZero == '0' || *firstNonZero == '.')) {
      ++firstNonZero;
    }
    if (firstNonZero < integerEnd) {
      magnitude = integerEnd - firstNonZero;
    } else {
      magnitude = -(firstNonZero - integerEnd - 1);
    }
    value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  result = negative ? -value : value;
  return p;
}

double ParseDouble(std::string_view text) {
  double value;
  ParseDoublePrefix(text.data(), text.data() + text.size(), value);
  return value;
}

float RoundOutOfRangeToFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  // Half a unit in the last place above the largest float: from there on
  // the nearest float is infinity (ties go to even, and FLT_MAX is odd).
  constexpr double kOverflow = kMax + 0x1p103;
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  if (value > kMax) return std::numeric_limits<float>::max();
  if (value < -kMax) return -std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

float ParseFloat(std::string_view text) { return RoundToFloat(ParseDouble(text)); }

}  // namespace dbcpack
