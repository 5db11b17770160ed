// The shortest decimal of a float that the loader reads back as the same
// float. The loader converts decimal text to a double and rounds that to a
// float, so the shortest digits of a plain float-to-text conversion do not
// always hold (two roundings), and a shorter decimal sometimes does (a tie
// in the second rounding): both are checked against the loader's own
// conversion, which has the last word.
#include "table/number_format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "table/number_parse.h"

namespace dbcpack {
namespace {

constexpr std::uint32_t kSignBit = 0x80000000u;
constexpr std::uint32_t kExponentBits = 0x7F800000u;

bool SameBits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Whether the loader's conversion turns the text back into `value`.
bool Holds(const char* text, std::size_t length, float value) {
  return SameBits(ParseFloat(std::string_view(text, length)), value);
}

// A decimal as a digit string and a power of ten: the value is
// 0.d1d2d3... x 10^point, with neither leading nor trailing zeros.
struct Decimal {
  char digits[24];
  int count = 0;
  int point = 0;
};

// The digits and exponent of std::to_chars's scientific form
// ("d.ddde-XX") of a positive value.
Decimal DecimalOf(const char* text, const char* end) {
  Decimal decimal;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') decimal.digits[decimal.count++] = *p;
  }
  while (decimal.count > 1 && decimal.digits[decimal.count - 1] == '0') --decimal.count;
  const bool negative = p[1] == '-';
  int exponent = 0;
  for (p += 2; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  decimal.point = (negative ? -exponent : exponent) + 1;
  return decimal;
}

// The shortest digits that tell `value` from every other float when
// converted straight to a float, or with `precision` the nearest digits of
// that many.
template <typename Number>
Decimal DigitsOf(Number value, int precision = 0) {
  char text[kMaxFloatText];
  const Number magnitude = std::fabs(value);
  const auto result = precision == 0 ? std::to_chars(text, text + sizeof text, magnitude,
                                                     std::chars_format::scientific)
                                     : std::to_chars(text, text + sizeof text, magnitude,
                                                     std::chars_format::scientific, precision - 1);
  return DecimalOf(text, result.ptr);
}

// Adds `step` (+1 or -1) in the last digit; false when that changes the
// number of digits (999 + 1, 100 - 1), which are the candidates of another
// length.
bool StepLastDigit(Decimal& decimal, int step) {
  for (int i = decimal.count - 1; i >= 0; --i) {
    char& digit = decimal.digits[i];
    if (step > 0 && digit != '9') {
      ++digit;
      return true;
    }
    if (step < 0 && digit != '0') {
      --digit;
      return decimal.digits[0] != '0';
    }
    digit = step > 0 ? '0' : '9';
  }
  return false;
}

// The decimal as text: plain for values from 0.0001 to below 10^9, as
// people write them in tables; else one digit, the others after a point,
// and an exponent.
std::size_t WriteDecimal(const Decimal& decimal, bool negative, char* out) {
  const char* const digits = decimal.digits;
  const int count = decimal.count;
  const int point = decimal.point;
  char* w = out;
  if (negative) *w++ = '-';
  if (point >= count && point <= 9) {
    w = std::copy(digits, digits + count, w);
    w = std::fill_n(w, point - count, '0');
  } else if (point > 0 && point < count) {
    w = std::copy(digits, digits + point, w);
    *w++ = '.';
    w = std::copy(digits + point, digits + count, w);
  } else if (point <= 0 && point >= -3) {
    *w++ = '0';
    *w++ = '.';
    w = std::fill_n(w, -point, '0');
    w = std::copy(digits, digits + count, w);
  } else {
    *w++ = digits[0];
    if (count > 1) {
      *w++ = '.';
      w = std::copy(digits + 1, digits + count, w);
    }
    *w++ = 'e';
    w = std::to_chars(w, out + kMaxFloatText, point - 1).ptr;
  }
  return static_cast<std::size_t>(w - out);
}

// Powers of ten as doubles, 10^-60 to 10^60: exact to 10^22, within 2^-47
// of the true power beyond, which the test below allows for.
struct PowersOfTen {
  static constexpr int kMax = 60;
  double values[2 * kMax + 1] = {};
  constexpr PowersOfTen() {
    values[kMax] = 1.0;
    for (int k = 1; k <= kMax; ++k) {
      values[kMax + k] = values[kMax + k - 1] * 10.0;
      values[kMax - k] = values[kMax - k + 1] / 10.0;
    }
  }
  double operator()(int k) const { return values[kMax + k]; }
};
constexpr PowersOfTen kPowersOfTen;

// A decimal with fewer digits than `shortest` (the shortest for a straight
// conversion to float) can still load as `value` through the double: when
// it lies just outside the float's rounding interval and its double is the
// midpoint between `value` and a neighbour, which then ties to `value`.
// Such a decimal is the one of that length nearest to the midpoint, within
// half a double's unit of it; that is tested first, in doubles with room
// for their error, and the loader's conversion has the last word. Writes
// the decimal and returns its length, or 0 when there is none.
std::size_t ShorterThroughMidpoint(float value, const Decimal& shortest, char* out) {
  if (shortest.count < 2) return 0;
  const std::uint32_t magnitude = std::bit_cast<std::uint32_t>(value) & ~kSignBit;
  const double x = std::fabs(static_cast<double>(value));
  const double down = std::bit_cast<float>(magnitude - 1);
  const double up = magnitude == 0x7F7FFFFFu ? 2 * x - down : std::bit_cast<float>(magnitude + 1);
  // The grid of decimals one digit shorter is 10^grid apart.
  const int grid = shortest.point - shortest.count + 1;
  const double scale = kPowersOfTen(-grid);
  for (const double midpoint : {(x + down) / 2, (x + up) / 2}) {
    const double r = midpoint * scale;
    const double nearest = std::round(r);
    if (nearest == 0 || std::fabs(r - nearest) > r * 0x1p-44) continue;
    Decimal candidate;
    char* const end = std::to_chars(candidate.digits, candidate.digits + sizeof candidate.digits,
                                    static_cast<std::int64_t>(nearest))
                          .ptr;
    candidate.count = static_cast<int>(end - candidate.digits);
    candidate.point = candidate.count + grid;
    while (candidate.digits[candidate.count - 1] == '0') --candidate.count;
    const std::size_t length = WriteDecimal(candidate, std::signbit(value), out);
    if (Holds(out, length, value)) return length;
  }
  return 0;
}

// When the shortest digits do not survive the loader's two roundings
// (decimal to double, double to float), the nearest decimals of that many
// digits and one more each time, with their neighbours, until one does.
// Nine digits always do; behind them, as a guard, the shortest digits of
// the float's exact value as a double, which the loader reads back exactly.
[[gnu::noinline]] std::size_t FormatFloatLonger(float value, int shortest, char* out) {
  const bool negative = std::signbit(value);
  for (int precision = shortest; precision <= 9; ++precision) {
    const Decimal nearest = DigitsOf(value, precision);
    for (const int step : {0, -1, 1}) {
      Decimal candidate = nearest;
      if (step != 0 && !StepLastDigit(candidate, step)) continue;
      const std::size_t length = WriteDecimal(candidate, negative, out);
      if (Holds(out, length, value)) return length;
    }
  }
  return WriteDecimal(DigitsOf(static_cast<double>(value)), negative, out);
}

}  // namespace

std::size_t FormatFloat(float value, char* out) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  if ((bits & ~kSignBit) == kExponentBits) {
    const std::string_view text = (bits & kSignBit) != 0 ? "-1e39" : "1e39";
    std::copy(text.begin(), text.end(), out);
    return text.size();
  }
  // Small whole numbers, common in tables, are their own shortest decimal
  // and exact in a double and a float alike.
  if (value > -100000.0f && value < 100000.0f && bits != kSignBit) {
    const auto whole = static_cast<std::int32_t>(value);
    if (static_cast<float>(whole) == value) {
      return static_cast<std::size_t>(FormatInt(whole, out) - out);
    }
  }
  const Decimal shortest = DigitsOf(value);
  if (const std::size_t shorter = ShorterThroughMidpoint(value, shortest, out)) return shorter;
  const std::size_t length = WriteDecimal(shortest, (bits & kSignBit) != 0, out);
  if (Holds(out, length, value)) return length;
  return FormatFloatLonger(value, shortest.count, out);
}

}  // namespace dbcpack
