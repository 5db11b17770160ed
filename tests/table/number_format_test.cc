// FormatFloat: the decimal of every float must load back to the same bits
// through the loader's own conversion, no decimal with fewer digits may do
// so, and of those as long it is the nearest that rounds straight to it.
#include "table/number_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "table/number_parse.h"

namespace dbcpack {
namespace {

std::string Format(float value) {
  char text[kMaxFloatText];
  return std::string(text, FormatFloat(value, text));
}

bool LoadsAs(const std::string& text, std::uint32_t bits) {
  return std::bit_cast<std::uint32_t>(ParseFloat(text)) == bits;
}

// Digits of the text before any exponent, without leading or trailing
// zeros: "0.00120" has 2, "1200" has 2, "-1.5e-7" has 2.
int SignificantDigits(const std::string& text) {
  const std::string mantissa = text.substr(0, text.find('e'));
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string::npos) return 0;
  std::string digits;
  for (std::size_t i = first; i < mantissa.size(); ++i) {
    if (mantissa[i] != '.') digits += mantissa[i];
  }
  return static_cast<int>(digits.find_last_not_of('0') + 1);
}

// Whether some decimal of `digits` significant digits loads as `bits`: the
// nearest one to the value and the one on either side of it cover every
// decimal of that length close enough to hold.
bool SomeDecimalOfLengthLoads(float value, int digits, std::uint32_t bits) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, digits - 1).ptr;
  const std::string nearest(text, end);
  const std::size_t e = nearest.find('e');
  std::string mantissa;
  for (const char c : nearest.substr(0, e)) {
    if (c != '.') mantissa += c;
  }
  const long long m = std::stoll(mantissa);
  const int exponent = std::stoi(nearest.substr(e + 1)) - (digits - 1);
  for (const long long candidate : {m - 1, m, m + 1}) {
    if (LoadsAs(std::to_string(candidate) + "e" + std::to_string(exponent), bits)) return true;
  }
  return false;
}

void ExpectShortestThatHolds(float value) {
  const std::string text = Format(value);
  const auto bits = std::bit_cast<std::uint32_t>(value);
  SCOPED_TRACE(text);
  ASSERT_LE(text.size(), kMaxFloatText);
  ASSERT_EQ(text.find_first_not_of("-0123456789.e"), std::string::npos);
  EXPECT_TRUE(LoadsAs(text, bits)) << std::hex << bits;
  const int digits = SignificantDigits(text);
  if (digits > 1) {
    EXPECT_FALSE(SomeDecimalOfLengthLoads(value, digits - 1, bits)) << bits;
  }
  // Of the decimals that long, it is the one std::to_chars picks (the
  // nearest to the value that rounds straight to it) whenever that one
  // loads back: the writer works those digits out by itself.
  char buffer[64];
  const std::string straight(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
  if (SignificantDigits(straight) == digits && LoadsAs(straight, bits)) {
    EXPECT_EQ(ParseDouble(text), ParseDouble(straight)) << straight;
  }
}

TEST(FormatFloatTest, BoundaryValues) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const struct {
    float value;
    const char* text;
  } cases[] = {
      {0.0f, "0"},
      {-0.0f, "-0"},
      {kInf, "1e39"},
      {-kInf, "-1e39"},
      {std::numeric_limits<float>::max(), "3.4028235e38"},
      {-std::numeric_limits<float>::max(), "-3.4028235e38"},
      {std::numeric_limits<float>::min(), "1.1754944e-38"},
      {std::bit_cast<float>(0x007FFFFFu), "1.1754942e-38"},
      {std::numeric_limits<float>::denorm_min(), "1e-45"},
      {-std::numeric_limits<float>::denorm_min(), "-1e-45"},
      {0.1f, "0.1"},
      {1e-4f, "0.0001"},
      {1e-5f, "1e-5"},
      {-99999.0f, "-99999"},
      {100000.0f, "100000"},
      {16777216.0f, "16777216"},
      {123456792.0f, "123456790"},  // eight digits hold, not the nine of the value
      {1e9f, "1e9"},
      {std::bit_cast<float>(0x3F800001u), "1.0000001"},
      // The one pair of floats, found by trying all of them, where the
      // loader's rounding through double matters: the shortest decimal of
      // the first loads as the second, so the first needs a digit more,
      // and the second holds with a digit fewer than a straight conversion
      // to float would need.
      {std::bit_cast<float>(0x15AE43FDu), "7.0385307e-26"},
      {std::bit_cast<float>(0x15AE43FEu), "7.038531e-26"},
      {std::bit_cast<float>(0x95AE43FEu), "-7.038531e-26"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format(c.value), c.text);
    ExpectShortestThatHolds(c.value);
  }
}

TEST(FormatFloatTest, EveryBitPatternLoadsBackFromItsShortestDecimal) {
  std::mt19937 random(20240611);
  for (int i = 0; i < 200000; ++i) {
    const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (value != value) continue;
    ExpectShortestThatHolds(value);
    if (::testing::Test::HasFailure()) return;
  }
  // Powers of two, whose lower neighbour is nearer than the upper one, and
  // their neighbours: random patterns seldom meet them.
  for (std::uint32_t exponent = 0; exponent < 0xFF; ++exponent) {
    for (const std::uint32_t bits : {exponent << 23, (exponent << 23) + 1, (exponent << 23) - 1}) {
      if (bits < 0x7F800000u) ExpectShortestThatHolds(std::bit_cast<float>(bits));
    }
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace dbcpack
