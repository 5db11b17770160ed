// The numeric field conversions: strtol-like integers clamped to 32 bits,
// bytes as their low 8 bits, and atof-like floats without hexadecimal,
// words or locale, rounded through double to float. Edge values are
// table-driven; ParseDouble is also cross-checked against strtod.
#include "table/number_parse.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "table/number_scan.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::Printable;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::uint32_t Bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct IntCase {
  std::string text;
  std::int32_t value;
  std::uint8_t byte;
};

TEST(NumberParseTest, IntegersFollowStrtolClampedTo32Bits) {
  const IntCase cases[] = {
      {"0", 0, 0},
      {"42", 42, 42},
      {"+42", 42, 42},
      {"-42", -42, 214},
      {" \t\n\v\f\r42", 42, 42},  // white space is the space and bytes 9 to 13
      {std::string("\x08") + "42", 0, 0},
      {"\x0e"
       "42",
       0, 0},
      {std::string("\0"
                   "42",
                   3),
       0, 0},
      {"42 ", 42, 42},
      {"- 42", 0, 0},
      {"+-42", 0, 0},
      {"--42", 0, 0},
      {"", 0, 0},
      {"  ", 0, 0},
      {"-", 0, 0},
      {"abc", 0, 0},
      {"12abc", 12, 12},
      {"1.5", 1, 1},
      {"-1.9", -1, 255},
      {"1e3", 1, 1},
      {"0x10", 0, 0},
      {"\"5\"", 0, 0},
      {"000000000000000000000000000123", 123, 123},
      {"-0", 0, 0},
      {"2147483647", kMax, 255},
      {"2147483648", kMax, 255},
      {"4294967295", kMax, 255},
      {"4294967296", kMax, 255},
      {"4294967338", kMax, 255},  // 2^32 + 42: wrapping would give 42
      {"99999999999999999999999999999", kMax, 255},
      {"18446744073709551658", kMax, 255},  // 2^64 + 42: wrapping would give 42
      {"-18446744073709551617", kMin, 0},
      {"-2147483647", -2147483647, 1},
      {"-2147483648", kMin, 0},
      {"-2147483649", kMin, 0},
      {"-4294967296", kMin, 0},
      {"-99999999999999999999999999999", kMin, 0},
      {"300", 300, 44},
      {"256", 256, 0},
      {"255", 255, 255},
      {"-1", -1, 255},
      {"-256", -256, 0},
      {"\xff"
       "1",
       0, 0},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(Printable(c.text));
    EXPECT_EQ(ParseInt(c.text), c.value);
    EXPECT_EQ(ParseByte(c.text), c.byte);
  }
}

TEST(NumberParseTest, IntegerStopsAtTheEndOfTheView) {
  const std::string text = "12345";
  EXPECT_EQ(ParseInt(std::string_view(text).substr(0, 2)), 12);
  EXPECT_EQ(ParseDouble(std::string_view(text).substr(0, 3)), 123.0);
}

struct FloatCase {
  std::string text;
  double value;
};

TEST(NumberParseTest, FloatsAcceptOnlyTheDecimalPrefix) {
  const FloatCase cases[] = {
      {"0", 0},
      {"2.5", 2.5},
      {"+2.5", 2.5},
      {"-2.5", -2.5},
      {" \t\n\v\f\r2.5", 2.5},
      {"\x08"
       "2.5",
       0},
      {"2.5 ", 2.5},
      {".5", 0.5},
      {"5.", 5},
      {"-.5", -0.5},
      {".", 0},
      {"-.", 0},
      {"", 0},
      {"  ", 0},
      {"abc", 0},
      {"12abc", 12},
      {"\"5\"", 0},
      {"1d2", 100},
      {"1D2", 100},
      {"1e2", 100},
      {"1E+2", 100},
      {"1e-2", 0.01},
      {"1d-2", 0.01},
      {"1.5e1", 15},
      {".5e1", 5},
      {"5.e1", 50},
      {"e5", 0},
      {".e5", 0},
      {"1e", 1},
      {"1e+", 1},
      {"1e-", 1},
      {"1d", 1},
      {"1ex", 1},
      {"1e 2", 1},
      {"1e2.5", 100},
      {"1.2.3", 1.2},
      {"1,5", 1},
      {"0x10", 0},
      {"0X1p4", 0},
      {"inf", 0},
      {"-infinity", 0},
      {"nan", 0},
      {"NAN(123)", 0},
      {"00000000000000000000000000001.5", 1.5},
      {"0.000000000000000000000000000015", 1.5e-29},
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
      {"1.00000000000000000000000000001", 1},
      {"1e0000000000000000000002", 100},
      {"1e99999999999999999999", kInf},
      {"-1e99999999999999999999", -kInf},
      {"1e-99999999999999999999", 0},
      {"1e308", 1e308},
      {"1e309", kInf},
      {"-1e309", -kInf},
      {"4.9e-324", 4.9e-324},
      {"2e-324", 0},
      {"0.0000000000000000000000000001e-300", 0},
      {"1000000000000000000000000000000e-330", 1e-300},
      {"1e39", 1e39},
  };
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(Printable(c.text));
    EXPECT_EQ(Bits(ParseDouble(c.text)), Bits(c.value)) << ParseDouble(c.text);
  }
}

TEST(NumberParseTest, NegativeZeroKeepsItsSign) {
  EXPECT_TRUE(std::signbit(ParseDouble("-0")));
  EXPECT_TRUE(std::signbit(ParseDouble("-0.0e5")));
  EXPECT_TRUE(std::signbit(ParseDouble("-1e-400")));
  EXPECT_FALSE(std::signbit(ParseDouble("-")));
  EXPECT_FALSE(std::signbit(ParseDouble("0")));
}

struct RoundCase {
  std::string text;
  float value;
};

TEST(NumberParseTest, FloatsRoundToSinglePrecision) {
  constexpr float kFloatInf = std::numeric_limits<float>::infinity();
  constexpr float kFloatMax = std::numeric_limits<float>::max();
  const RoundCase cases[] = {
      {"1d2", 100.0f},
      {"0.1", 0.1f},
      {"1e39", kFloatInf},
      {"-1e39", -kFloatInf},
      {"1e-50", 0.0f},
      {"3.4028234663852886e38", kFloatMax},
      // The largest double below half an ulp above the largest float.
      {"3.4028235677973362e38", kFloatMax},
      // Exactly half an ulp above: ties to even, which is infinity.
      {"3.40282356779733661637539395458142568448e38", kFloatInf},
      // Just below that, but the double is the halfway point itself.
      {"3.40282356779733661637539395458142568447e38", kFloatInf},
      {"-3.40282356779733661637539395458142568448e38", -kFloatInf},
      {"1.4e-45", std::numeric_limits<float>::denorm_min()},
      {"7e-46", 0.0f},  // below half the smallest denormal
      {"0x10", 0.0f},
      {"inf", 0.0f},
      {"abc", 0.0f},
  };
  for (const RoundCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Bits(ParseFloat(c.text)), Bits(c.value)) << ParseFloat(c.text);
  }
}

TEST(NumberParseTest, RoundsThroughDoubleNotStraightToFloat) {
  // Just above the midpoint between 1 and the next float: the double is the
  // midpoint itself, which ties to the even 1, while strtof rounds up.
  const char* const above = "1.00000005960464477539062500000001";
  EXPECT_EQ(ParseDouble(above), 1.0 + 0x1p-24);
  EXPECT_EQ(ParseFloat(above), 1.0f);
  EXPECT_EQ(std::strtof(above, nullptr), std::nextafter(1.0f, 2.0f));
  // Just below the midpoint between 1 + 2^-23 (odd) and 1 + 2^-22 (even):
  // through double it ties up to the even float, strtof rounds down.
  const char* const below = "1.00000017881393432617187499999999";
  EXPECT_EQ(ParseDouble(below), 1.0 + 3 * 0x1p-24);
  EXPECT_EQ(ParseFloat(below), 1.0f + 0x1p-22f);
  EXPECT_EQ(std::strtof(below, nullptr), 1.0f + 0x1p-23f);
  // The same at the top of the range: infinity through double, not direct.
  const char* const top = "3.40282356779733661637539395458142568447e38";
  EXPECT_EQ(ParseFloat(top), std::numeric_limits<float>::infinity());
  EXPECT_EQ(std::strtof(top, nullptr), std::numeric_limits<float>::max());
}

TEST(NumberParseTest, RoundToFloatIsDefinedForEveryDouble) {
  constexpr float kFloatMax = std::numeric_limits<float>::max();
  EXPECT_EQ(RoundToFloat(1e300), std::numeric_limits<float>::infinity());
  EXPECT_EQ(RoundToFloat(-1e300), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(RoundToFloat(kInf), std::numeric_limits<float>::infinity());
  EXPECT_EQ(RoundToFloat(static_cast<double>(kFloatMax) + 0x1p102), kFloatMax);
  EXPECT_EQ(RoundToFloat(1e-300), 0.0f);
  EXPECT_TRUE(std::isnan(RoundToFloat(std::nan(""))));
}

// Sets the first installed locale whose decimal point is a comma for the
// duration of one test.
class CommaLocale {
 public:
  CommaLocale() {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    saved_ = saved ? saved : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8",
                             "ru_RU.UTF-8", "nl_NL.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8"}) {
      if (std::setlocale(LC_ALL, name) != nullptr &&
          std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
        active_ = true;
        return;
      }
    }
    std::setlocale(LC_ALL, saved_.c_str());
  }
  ~CommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  bool Active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

TEST(NumberParseTest, DecimalPointIsAFullStopInEveryLocale) {
  CommaLocale locale;
  if (!locale.Active()) GTEST_SKIP() << "no locale with a comma decimal point is installed";
  ASSERT_EQ(std::strtod("1,5", nullptr), 1.5);  // the library follows the locale
  EXPECT_EQ(ParseDouble("1.5"), 1.5);
  EXPECT_EQ(ParseDouble("1,5"), 1.0);
  EXPECT_EQ(ParseDouble("1.00000000000000000000000000000005"), 1.0);  // the slow path
  EXPECT_EQ(ParseFloat("2.5e1"), 25.0f);
}

// A random decimal string in the dialect: optional white space and sign,
// short or long mantissas with an optional full stop, and an optional
// exponent with any of the four letters, exponents -350..350.
std::string RandomDecimal(std::mt19937_64& random) {
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto digits = [&](int count, std::string& out) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<char>('0' + pick(10)));
  };
  std::string text;
  if (pick(8) == 0) text += " \t";
  const int sign = pick(4);
  if (sign == 0) text += '-';
  if (sign == 1) text += '+';
  // Mostly short mantissas (the fast path), some of up to 40 digits, a few
  // longer than any buffer on the stack.
  const int length = pick(100) == 0 ? 1 + pick(400) : pick(4) == 0 ? 1 + pick(40) : 1 + pick(17);
  const int point = pick(length + 2) - 1;  // -1: no point
  if (pick(6) == 0) text.append(static_cast<std::size_t>(pick(30)), '0');
  std::string mantissa;
  digits(length, mantissa);
  if (point >= 0) mantissa.insert(static_cast<std::size_t>(point), 1, '.');
  text += mantissa;
  if (pick(3) != 0) {
    text += "eEdD"[pick(4)];
    const int exponent = pick(701) - 350;
    if (exponent < 0) {
      text += '-';
    } else if (pick(2) == 0) {
      text += '+';
    }
    text += std::to_string(exponent < 0 ? -exponent : exponent);
  }
  if (pick(8) == 0) text += "x,1";
  return text;
}

TEST(NumberParseTest, ParseDoubleMatchesStrtodOnRandomDecimals) {
  const char* locale = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_TRUE(locale != nullptr && std::strcmp(locale, "C") == 0);
  std::mt19937_64 random(20240611);
  int failures = 0;
  for (int i = 0; i < 300000 && failures < 10; ++i) {
    const std::string text = RandomDecimal(random);
    std::string forLibrary = text;
    for (char& c : forLibrary) {
      if (c == 'd' || c == 'D') c = 'e';
    }
    const double expected = std::strtod(forLibrary.c_str(), nullptr);
    const double actual = ParseDouble(text);
    if (Bits(actual) != Bits(expected)) {
      ++failures;
      ADD_FAILURE() << text << ": " << actual << " instead of " << expected;
    }
  }
}

// A float field converts its decimal straight to a float; it must give the
// float that rounding the correctly rounded double gives, also where it
// takes a shortcut through an inexact power of ten, and so must the
// loader's short path where it takes the text: random short decimals over
// the whole float range, decimals within a few units of a double from the
// point halfway between two floats, and such points written out exactly
// in the short path's shape, where a double off by a unit rounds the
// other way.
TEST(NumberParseTest, FloatFieldsRoundThroughTheDoubleStrtodGives) {
  std::mt19937_64 random(99);
  const auto check = [](const std::string& text) {
    float actual;
    ParseFloatPrefix(text.data(), text.data() + text.size(), actual);
    const float expected = RoundToFloat(std::strtod(text.c_str(), nullptr));
    ASSERT_EQ(Bits(actual), Bits(expected)) << text;
    const std::string line = text + std::string(8, '\n');  // read past, as a line is
    if (ReadShortFloat(line.data(), actual) != nullptr) {
      ASSERT_EQ(Bits(actual), Bits(expected)) << text;
    }
  };
  char text[64];
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t mantissa = random() >> (11 + random() % 53);  // up to 2^53
    const int exponent = static_cast<int>(random() % 140) - 70;
    std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(mantissa),
                  exponent);
    check(text);
  }
  for (int i = 0; i < 100000; ++i) {
    const auto bits = static_cast<std::uint32_t>(random() % 0x7F000000u) + 0x00800000u;
    float low;
    std::memcpy(&low, &bits, 4);
    const double middle =
        (static_cast<double>(low) + static_cast<double>(std::nextafter(low, HUGE_VALF))) / 2;
    const double near = std::nextafter(middle, (i & 1) ? HUGE_VAL : -HUGE_VAL);
    for (const double value : {middle, near}) {
      // 15 or 16 significant digits: the mantissa mostly within 2^53,
      // the scale mostly past 10^22.
      std::snprintf(text, sizeof text, "%.*e", 14 + i % 2, value);
      check(text);
    }
  }
  for (int i = 0; i < 100000; ++i) {
    // From 2^17 to 2^23, where the midpoints take at most seven decimals.
    const auto bits = 0x48000000u + static_cast<std::uint32_t>(random() % (6u << 23));
    float low;
    std::memcpy(&low, &bits, 4);
    const double middle =
        (static_cast<double>(low) + static_cast<double>(std::nextafter(low, HUGE_VALF))) / 2;
    const auto scaled = static_cast<long long>(middle * 1e7);  // exact
    for (const long long m : {scaled, scaled - 1, scaled + 1}) {
      std::snprintf(text, sizeof text, "%lld.%07lld", m / 10000000, m % 10000000);
      check(text);
    }
  }
}

// Decimals longer than the digits the conversion hands on: exact midpoints
// between two doubles (hundreds of digits), as they are, as ties, and with
// a non-zero digit far past them, which must tip the rounding.
TEST(NumberParseTest, LongDecimalsRoundLikeStrtod) {
  if (std::numeric_limits<long double>::digits < 64) {
    GTEST_SKIP() << "no long double that holds the midpoint of two doubles";
  }
  std::mt19937_64 random(7);
  char exact[1400];
  for (int i = 0; i < 3000; ++i) {
    std::uint64_t bits = random() & 0x7FFFFFFFFFFFFFFFu;
    if (i % 3 == 0) bits &= 0x000FFFFFFFFFFFFFu;  // denormals
    double low;
    std::memcpy(&low, &bits, 8);
    if (!std::isfinite(low)) continue;
    const long double middle = (static_cast<long double>(low) + std::nextafter(low, HUGE_VAL)) / 2;
    std::snprintf(exact, sizeof exact, "%.1100Le", middle);
    std::string digits = exact;
    const std::size_t e = digits.find('e');
    const std::string exponent = digits.substr(e);
    digits.erase(e);
    for (const std::string& text :
         {digits + exponent, digits + std::string(900, '0') + "1" + exponent,
          "0.000" + digits.substr(0, 1) + digits.substr(2) + "3" + exponent}) {
      const double expected = std::strtod(text.c_str(), nullptr);
      ASSERT_EQ(Bits(ParseDouble(text)), Bits(expected)) << text.substr(0, 60) << "...";
    }
  }
}

}  // namespace
}  // namespace dbcpack
