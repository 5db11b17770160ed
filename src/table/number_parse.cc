// Numeric field conversions. They scan the bytes themselves rather than call
// strtol or strtod: those follow the locale, accept hexadecimal, "inf" and
// "nan", and strtol's long is 64 bits on some hosts and 32 on others.
#include "table/number_parse.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace dbcpack {
namespace {

inline bool IsSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

constexpr std::uint64_t kPowersOf10[] = {1,      10,      100,      1000,     10000,
                                         100000, 1000000, 10000000, 100000000};

// Eight bytes as a little-endian word, the first byte lowest, on any host.
inline std::uint64_t Load8(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= ((word >> (8 * i)) & 0xFF) << (8 * (7 - i));
    word = swapped;
  }
  return word;
}

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

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

const char* ParseIntPrefix(const char* p, const char* const end, std::int32_t& result) {
  while (p != end && IsSpace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* const digits = p;
  std::uint64_t value = 0;
  p = AccumulateDigits(p, end, value);
  if (p - digits > 10) {
    // More digits than any 32-bit value has: past the range unless they are
    // mostly leading zeros.
    const char* first = digits;
    while (first != p && *first == '0') ++first;
    if (p - first > 10) value = std::uint64_t{1} << 32;
  }
  if (negative) {
    result = value >= 0x80000000u ? std::numeric_limits<std::int32_t>::min()
                                  : -static_cast<std::int32_t>(value);
  } else {
    result = value >= 0x7FFFFFFFu ? std::numeric_limits<std::int32_t>::max()
                                  : static_cast<std::int32_t>(value);
  }
  return p;
}

std::int32_t ParseInt(std::string_view text) {
  std::int32_t value;
  ParseIntPrefix(text.data(), text.data() + text.size(), value);
  return value;
}

namespace {

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

}  // namespace

const char* ParseDoublePrefix(const char* p, const char* const end, double& result) {
  while (p != end && IsSpace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Fast path for the common short decimal: at most 19 digits in all, so
  // the mantissa is exact in 64 bits, and a small power-of-ten scale.
  const char* const start = p;
  std::uint64_t mantissa = 0;
  p = AccumulateDigits(p, end, mantissa);
  std::ptrdiff_t digits = p - start;
  std::ptrdiff_t fraction = 0;
  if (p != end && *p == '.') {
    const char* const fractionStart = ++p;
    p = AccumulateDigits(p, end, mantissa);
    fraction = p - fractionStart;
    digits += fraction;
  }
  if (digits == 0) {
    result = 0.0;
    return p;
  }
  std::int64_t exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
    const char* q = p + 1;
    bool exponentNegative = false;
    if (q != end && (*q == '+' || *q == '-')) {
      exponentNegative = *q == '-';
      ++q;
    }
    if (q != end && IsDigit(static_cast<unsigned char>(*q))) {
      const char* const exponentStart = q;
      for (; q != end && IsDigit(static_cast<unsigned char>(*q)); ++q) {
        exponent = exponent * 10 + (*q - '0');
      }
      if (q - exponentStart > 4) return ParseDoubleSlow(start, end, negative, result);
      if (exponentNegative) exponent = -exponent;
      p = q;
    }
  }
  const std::int64_t scale = exponent - fraction;
  if (digits > 19 || mantissa > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) {
    return ParseDoubleSlow(start, end, negative, result);
  }
  // Both operands are exact, so one multiply or divide rounds correctly.
  double value = static_cast<double>(mantissa);
  value = scale < 0 ? value / kExactPowers[-scale] : value * kExactPowers[scale];
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
