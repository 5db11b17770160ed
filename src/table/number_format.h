// Numbers as the CSV writer writes them, the inverse of number_parse:
// integers in decimal, and floats as the shortest decimal that the loader's
// conversion turns back into the same bits. The integer writer is inline so
// that the writer's row loop formats an int without a call.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dbcpack {

// Longest text FormatInt writes: "-2147483648".
inline constexpr std::size_t kMaxIntText = 11;

// Longest text FormatFloat writes.
inline constexpr std::size_t kMaxFloatText = 48;

// Whether these are the bits of a NaN float, which no decimal loads as.
inline bool IsNanBits(std::uint32_t bits) { return (bits & 0x7FFFFFFFu) > 0x7F800000u; }

// The eight decimal digits of v < 10^8 as values 0 to 9 in the bytes of a
// word, the first digit in the lowest byte. The halves, then their halves
// and so on are split off with multiplications by reciprocals, exact in
// this range, all lanes at once: no division and no loop.
inline std::uint64_t EightDigits(std::uint32_t v) {
  const std::uint64_t q = (std::uint64_t{v} * std::uint64_t{109951163}) >> 40;  // v / 10^4
  const std::uint64_t halves = q | ((v - q * 10000) << 32);
  const std::uint64_t q2 = ((halves * 5243) >> 19) & 0x0000007F0000007Fu;  // / 100
  const std::uint64_t quarters = (halves << 16) - q2 * 0x63FFFFu;
  const std::uint64_t q3 = ((quarters * 103) >> 10) & 0x000F000F000F000Fu;  // / 10
  return (quarters << 8) - q3 * 2559u;
}

// Stores the bytes of `word` at `w`, the lowest first.
inline void Store8(char* w, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::big) {
    for (int i = 0; i < 8; ++i) w[i] = static_cast<char>(word >> (8 * i));
  } else {
    std::memcpy(w, &word, 8);
  }
}

// Writes `v` in decimal and returns its end. Up to ten bytes from `w` may
// be overwritten. Branches only on v >= 10^8: in a column of mixed
// magnitudes a branch per digit count would often be mispredicted.
inline char* FormatUnsigned(std::uint32_t v, char* w) {
  constexpr std::uint64_t kAsciiZeros = 0x3030303030303030u;
  if (v >= 100000000) {
    const std::uint32_t high = v / 100000000;  // 1 to 42
    const std::size_t two = high >= 10;
    w[0] = static_cast<char>('0' + high / 10);
    w[two] = static_cast<char>('0' + high % 10);
    w += 1 + two;
    Store8(w, EightDigits(v - high * 100000000) + kAsciiZeros);
    return w + 8;
  }
  // Leading zeros are dropped, all but the last digit of a 0.
  const std::uint64_t digits = EightDigits(v);
  const int zeros = std::countr_zero(digits | (std::uint64_t{1} << 56)) >> 3;
  Store8(w, (digits + kAsciiZeros) >> (8 * zeros));
  return w + 8 - zeros;
}

// Writes `value` in decimal at `out` and returns its end; up to
// kMaxIntText bytes from `out` may be overwritten. The sign is placed
// without a branch: in a column of mixed signs it would be mispredicted
// half the time.
inline char* FormatInt(std::int32_t value, char* out) {
  const auto bits = static_cast<std::uint32_t>(value);
  const std::uint32_t negative = bits >> 31;
  *out = '-';
  return FormatUnsigned(negative != 0 ? 0u - bits : bits, out + negative);
}

// Writes at `out` the shortest decimal that the loader's float conversion
// (to double, then rounded to float) turns back into exactly the bits of
// `value`, and returns its length. -0 stays "-0"; an infinity is written as
// a decimal beyond the float range ("1e39", "-1e39").
// REQUIRES: `value` is not a NaN; `out` has room for kMaxFloatText bytes.
std::size_t FormatFloat(float value, char* out);

}  // namespace dbcpack
