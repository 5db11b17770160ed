// Little-endian encoding of a DBC table's fields, the same bytes on any
// host: a value is stored in little-endian byte order whatever the host's
// order, never copied as a host integer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace dbcpack {

inline char* PutFixed32(char* dst, std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    // One store where the host's order is the file's; the compiler does
    // not always merge the four byte stores below into one.
    std::memcpy(dst, &value, 4);
  } else {
    dst[0] = static_cast<char>(value & 0xFF);
    dst[1] = static_cast<char>((value >> 8) & 0xFF);
    dst[2] = static_cast<char>((value >> 16) & 0xFF);
    dst[3] = static_cast<char>((value >> 24) & 0xFF);
  }
  return dst + 4;
}

inline char* PutInt32(char* dst, std::int32_t value) {
  return PutFixed32(dst, static_cast<std::uint32_t>(value));
}

// IEEE-754 single precision, by its bit pattern.
inline char* PutFloat(char* dst, float value) {
  static_assert(sizeof(float) == 4);
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return PutFixed32(dst, bits);
}

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

inline std::uint32_t DecodeFixed32(const char* src) {
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t DecodeInt32(const char* src) {
  return static_cast<std::int32_t>(DecodeFixed32(src));
}

inline float DecodeFloat(const char* src) {
  const std::uint32_t bits = DecodeFixed32(src);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

}  // namespace dbcpack
