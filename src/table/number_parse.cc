// Numeric field conversions. They scan the bytes themselves rather than call
// strtol or strtod: those follow the locale, accept hexadecimal, "inf" and
// "nan", and strtol's long is 64 bits on some hosts and 32 on others.
#include "table/number_parse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "table/number_scan.h"

namespace dbcpack {

std::int32_t ParseInt(std::string_view text) {
  std::int32_t value;
  ParseIntPrefix(text.data(), text.data() + text.size(), value);
  return value;
}

namespace {

// Significant digits handed to from_chars. A double's rounding is settled
// within the first 768 significant digits of a decimal, as long as the
// digits dropped after them are known to be zero or not; a final 1 stands
// for any that are not.
constexpr std::size_t kKeptDigits = 780;

// Copies up to `room` digits of [from, to) to `w`; returns the new end.
char* CopyDigits(const char* from, const char* to, char* w, std::size_t& room) {
  const std::size_t count = std::min(room, static_cast<std::size_t>(to - from));
  std::memcpy(w, from, count);
  room -= count;
  return w + count;
}

bool AnyNonZero(const char* from, const char* to) {
  for (; from < to; ++from) {
    if (*from != '0') return true;
  }
  return false;
}

}  // namespace

double ConvertDecimalSlow(const DecimalScan& scan) {
  const double zero = scan.negative ? -0.0 : 0.0;
  const double infinity = scan.negative ? -std::numeric_limits<double>::infinity()
                                        : std::numeric_limits<double>::infinity();
  // The significant digits run from the first non-zero digit through the
  // integer part, then on through the fraction; the value is
  // 0.d1d2d3... x 10^point.
  const char* first = scan.integerBegin;
  while (first != scan.integerEnd && *first == '0') ++first;
  const char* fractionFirst = scan.fractionBegin;
  std::int64_t point = scan.integerEnd - first;
  if (first == scan.integerEnd) {
    while (fractionFirst != scan.fractionEnd && *fractionFirst == '0') ++fractionFirst;
    if (fractionFirst == scan.fractionEnd) return zero;
    point = -(fractionFirst - scan.fractionBegin);
  }
  // No overflow: the exponent is held within +-10^18 and the digits number
  // fewer than the bytes of memory.
  point += scan.exponent;
  // Past 10^310 every double is infinity; below 10^-330, half the smallest
  // one, every double is zero.
  if (point > 310) return infinity;
  if (point < -330) return zero;

  char text[kKeptDigits + 32];
  char* w = text;
  *w++ = '.';
  std::size_t room = kKeptDigits;
  w = CopyDigits(first, scan.integerEnd, w, room);
  w = CopyDigits(fractionFirst, scan.fractionEnd, w, room);
  if (room == 0) {
    const std::size_t integerDigits = static_cast<std::size_t>(scan.integerEnd - first);
    const bool dropped =
        integerDigits > kKeptDigits
            ? AnyNonZero(first + kKeptDigits, scan.integerEnd) ||
                  AnyNonZero(fractionFirst, scan.fractionEnd)
            : AnyNonZero(fractionFirst + (kKeptDigits - integerDigits), scan.fractionEnd);
    if (dropped) *w++ = '1';
  }
  *w++ = 'e';
  w = std::to_chars(w, text + sizeof text, point).ptr;
  double value = 0.0;
  if (std::from_chars(text, w, value, std::chars_format::general).ec ==
      std::errc::result_out_of_range) {
    // from_chars reports overflow and underflow alike.
    return point > 0 ? infinity : zero;
  }
  return scan.negative ? -value : value;
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

std::size_t IntLength(std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  bool negative;
  const char* const digits = SkipSpaceAndSign(begin, end, negative);
  std::uint64_t value;
  const char* const stop = ReadDigits(digits, end, value);
  return stop == digits ? 0 : static_cast<std::size_t>(stop - begin);
}

std::size_t DecimalLength(std::string_view text) {
  const DecimalScan scan = ScanDecimal(text.data(), text.data() + text.size());
  return scan.DigitCount() == 0 ? 0 : static_cast<std::size_t>(scan.end - text.data());
}

}  // namespace dbcpack
