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
#include "table/number_scan.h"

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
  char digits[32];  // room past the digits for fixed-size copies
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

// Copies `n` digits to `w`; up to 16 in one fixed-size move, which
// compiles to a few instructions where a copy of any length is a call.
// The source has room for it (Decimal), and so has the text (kMaxFloatText
// is far more than any decimal below takes before its last digit).
inline char* PutDigits(char* w, const char* digits, int n) {
  if (n <= 16) {
    std::memcpy(w, digits, 16);
  } else {
    std::memcpy(w, digits, static_cast<std::size_t>(n));
  }
  return w + n;
}

// Writes `n` zeros, n <= 8, as one fixed-size store.
inline char* PutZeros(char* w, int n) {
  constexpr char kZeros[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
  std::memcpy(w, kZeros, sizeof kZeros);
  return w + n;
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
    w = PutZeros(PutDigits(w, digits, count), point - count);
  } else if (point > 0 && point < count) {
    w = PutDigits(w, digits, point);
    *w++ = '.';
    w = PutDigits(w, digits + point, count - point);
  } else if (point <= 0 && point >= -3) {
    *w++ = '0';
    *w++ = '.';
    w = PutDigits(PutZeros(w, -point), digits, count);
  } else {
    *w++ = digits[0];
    if (count > 1) {
      *w++ = '.';
      w = PutDigits(w, digits + 1, count - 1);
    }
    *w++ = 'e';
    w = std::to_chars(w, out + kMaxFloatText, point - 1).ptr;
  }
  return static_cast<std::size_t>(w - out);
}

// ---- The shortest digits, in integers ----------------------------------

__extension__ using Wide = unsigned __int128;

// Below this many powers of ten a float's grids need more than 128 bits.
constexpr int kMaxDecimalShift = 43;

// 5^0 to 5^kMaxDecimalShift, exact.
struct PowersOfFive {
  Wide values[kMaxDecimalShift + 1] = {};
  constexpr PowersOfFive() {
    values[0] = 1;
    for (int k = 1; k <= kMaxDecimalShift; ++k) values[k] = values[k - 1] * 5;
  }
};
constexpr PowersOfFive kPowersOfFive;

// A number placed on a grid of decimals: its floor there, whether it lies
// on the grid, and whether it lies within 1/256 of a step above its floor
// or below the next point.
struct GridPoint {
  std::uint64_t value;
  bool exact;
  bool nearFloor;
  bool nearCeiling;
};

template <typename Int>
[[gnu::always_inline]] inline GridPoint Place(Int quotient, Int remainder, Int divisor) {
  const Int slack = divisor >> 8;
  return {static_cast<std::uint64_t>(quotient), remainder == 0, remainder <= slack,
          divisor - remainder <= slack};
}

// floor(bound x 2^e2 / 10^j) in integers of type Int. 10^j is 5^j x 2^j:
// the twos are a shift, the fives a multiply or a division.
// REQUIRES: j <= e2 when j > 0, and no intermediate past Int's range.
template <typename Int>
[[gnu::always_inline]] inline GridPoint OnGrid(std::uint64_t bound, int e2, int j) {
  if (j <= 0) {
    const Int n = Int{bound} * static_cast<Int>(kPowersOfFive.values[-j]);
    const int shift = j - e2;
    if (shift <= 0) return {static_cast<std::uint64_t>(n << -shift), true, true, false};
    const Int divisor = Int{1} << shift;
    return Place<Int>(n >> shift, n & (divisor - 1), divisor);
  }
  const Int n = Int{bound} << (e2 - j);
  const Int five = static_cast<Int>(kPowersOfFive.values[j]);
  const Int quotient = n / five;
  return Place<Int>(quotient, n - quotient * five, five);
}

// Whether the point lies so near a point of the grid `coarser` times
// coarser that a decimal there may be read back through a double as the
// float whose interval it bounds (see ShorterThroughMidpoint).
bool NearCoarserPoint(const GridPoint& bound, std::uint64_t coarser) {
  const std::uint64_t rest = bound.value % coarser;
  return (rest == 0 && bound.nearFloor) || (rest == coarser - 1 && bound.nearCeiling);
}

// The decimal interval of a float (the numbers that round straight to it)
// in units of 2^e2: half a unit in its last place on each side, but a
// quarter below a power of two, whose lower neighbour is nearer; the
// bounds (the midpoints between the float and its neighbours) are included
// when the mantissa is even (ties go to it).
struct FloatInterval {
  std::uint64_t low;
  std::uint64_t mid;
  std::uint64_t high;
  int e2;
  bool inclusive;
};

// The shortest decimal of an interval as mantissa x 10^j, 0 if none, and
// the interval's bounds on that grid.
struct GridDecimal {
  std::uint64_t mantissa;
  GridPoint low;
  GridPoint high;
};

// The shortest decimal of the interval, found on the grid of decimals 10^j
// apart that its width spans one to ten steps of: the one point of the
// grid ten times coarser, if there is one, else the point nearest the
// float, ties to the even one. 0 if the grid holds none (never, for a
// correct j).
template <typename Int>
GridDecimal ShortestOnGrid(const FloatInterval& f, int j) {
  const GridPoint low = OnGrid<Int>(f.low, f.e2, j);
  const GridPoint high = OnGrid<Int>(f.high, f.e2, j);
  const std::uint64_t first = low.value + (low.exact && f.inclusive ? 0 : 1);
  const std::uint64_t last = high.value - (high.exact && !f.inclusive ? 1 : 0);
  if (first > last) return {0, low, high};
  if (last / 10 * 10 >= first) return {last / 10 * 10, low, high};
  const GridPoint value = OnGrid<Int>(f.mid, f.e2, j);
  const std::uint64_t down = value.value;
  const std::uint64_t up = down + (value.exact ? 0 : 1);
  if (down < first) return {up, low, high};
  if (up > last || up == down) return {down, low, high};
  // Twice the value on the grid tells which half of the step it lies in.
  const GridPoint twice = OnGrid<Int>(f.mid, f.e2 + 1, j);
  if (twice.value == 2 * down) return {down, low, high};
  return {twice.exact && (down & 1) == 0 ? down : up, low, high};
}

// The digits std::to_chars gives as the shortest of a positive float: the
// fewest that round straight to it, the nearest to it among those, ties to
// the even digit; worked out exactly in integers on the float's binary
// form, in 64 bits for the magnitudes tables hold and in 128 bits past
// them. Sets `mantissa` to the digits' value, and `nearBound` to whether
// a decimal one digit shorter may lie near a bound of the float's
// interval (ShorterThroughMidpoint looks for it only then).
// False below about 1e-36, where 128 bits do not do, and the caller asks
// std::to_chars.
bool ShortestDigits(std::uint32_t magnitude, Decimal& decimal, std::uint64_t& mantissa,
                    bool& nearBound) {
  const std::uint32_t field = magnitude >> 23;
  const std::uint32_t fraction = magnitude & 0x7FFFFFu;
  const int q = static_cast<int>(field) - 150;  // the float is c x 2^q
  const bool asymmetric = fraction == 0 && field > 1;
  // floor(log10(2^q)), or of 3/4 of it below a power of two: the width.
  const int j = asymmetric ? (q * 1262611 - 524031) >> 22 : (q * 1262611) >> 22;
  if (field == 0 || j < -kMaxDecimalShift) return false;
  const std::uint64_t mid = std::uint64_t{fraction | 0x800000u} * 4;
  const FloatInterval f{mid - (asymmetric ? 1 : 2), mid, mid + 2, q - 2, (mid & 4) == 0};
  // Bounds below 2^26: 64 bits hold them times 5^15, or shifted by 38.
  const bool narrow = j <= 0 ? j >= -15 && j - f.e2 < 64 : j <= 27 && f.e2 + 1 - j <= 38;
  const GridDecimal found =
      narrow ? ShortestOnGrid<std::uint64_t>(f, j) : ShortestOnGrid<Wide>(f, j);
  std::uint64_t m = found.mantissa;
  if (m == 0) return false;
  int exponent = j;
  std::uint64_t coarser = 10;  // the grid of a digit fewer, against the one of j
  while (m % 10 == 0) {
    m /= 10;
    ++exponent;
    coarser *= 10;
  }
  nearBound = NearCoarserPoint(found.low, coarser) || NearCoarserPoint(found.high, coarser);
  mantissa = m;
  decimal.count = static_cast<int>(FormatUnsigned(static_cast<std::uint32_t>(m), decimal.digits) -
                                   decimal.digits);
  decimal.point = decimal.count + exponent;
  return true;
}

// Whether the loader reads mantissa x 10^scale back as `value`, for a
// scale its short conversion takes.
bool HoldsShort(std::uint64_t mantissa, int scale, float value) {
  const double magnitude = ShortDecimal(mantissa, scale);
  return SameBits(static_cast<float>(std::signbit(value) ? -magnitude : magnitude), value);
}

// Whether the loader reads the decimal, written by WriteDecimal, back as
// `value`: in numbers where its short conversion takes it (nearly always),
// else through the text, left at `out`.
bool Holds(const Decimal& decimal, float value, char* out) {
  const int scale = decimal.point - decimal.count;
  if (scale >= -22 && scale <= 22 && decimal.count <= 15) {
    std::uint64_t mantissa = 0;
    for (int i = 0; i < decimal.count; ++i) mantissa = mantissa * 10 + (decimal.digits[i] - '0');
    return HoldsShort(mantissa, scale, value);
  }
  return Holds(out, WriteDecimal(decimal, std::signbit(value), out), value);
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
    const double r = midpoint * scale;  // positive, below 10^9
    const auto whole = static_cast<double>(static_cast<std::int64_t>(r));
    const double nearest = r - whole >= 0.5 ? whole + 1 : whole;  // std::round, without a call
    if (nearest == 0 || std::fabs(r - nearest) > r * 0x1p-44) continue;
    Decimal candidate;
    char* const end = std::to_chars(candidate.digits, candidate.digits + sizeof candidate.digits,
                                    static_cast<std::int64_t>(nearest))
                          .ptr;
    candidate.count = static_cast<int>(end - candidate.digits);
    candidate.point = candidate.count + grid;
    while (candidate.digits[candidate.count - 1] == '0') --candidate.count;
    if (Holds(candidate, value, out)) return WriteDecimal(candidate, std::signbit(value), out);
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
      if (Holds(candidate, value, out)) return WriteDecimal(candidate, negative, out);
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
  Decimal shortest;
  std::uint64_t mantissa = 0;
  bool nearBound = true;
  if (!ShortestDigits(bits & ~kSignBit, shortest, mantissa, nearBound)) shortest = DigitsOf(value);
  if (nearBound) {
    if (const std::size_t shorter = ShorterThroughMidpoint(value, shortest, out)) return shorter;
  }
  const int scale = shortest.point - shortest.count;
  const bool holds = mantissa != 0 && scale >= -22 && scale <= 22
                         ? HoldsShort(mantissa, scale, value)
                         : Holds(shortest, value, out);
  if (holds) return WriteDecimal(shortest, (bits & kSignBit) != 0, out);
  return FormatFloatLonger(value, shortest.count, out);
}

}  // namespace dbcpack
