// String deduplication for the string block. Keys are (offset, length)
// pairs into the block itself, so a distinct string costs one 12-byte slot
// beside its bytes in the block.
#include "table/string_pool.h"

#include <cstring>
#include <limits>

namespace dbcpack {
namespace {

constexpr std::uint64_t kSecret0 = 0xA0761D6478BD642Full;
constexpr std::uint64_t kSecret1 = 0xE7037ED1A0B428DBull;
constexpr std::uint64_t kSecret2 = 0x8EBC6AF09C88C6E3ull;

inline std::uint64_t Load64(const char* data) {
  std::uint64_t word;
  std::memcpy(&word, data, 8);
  return word;
}

inline std::uint64_t Load32(const char* data) {
  std::uint32_t word;
  std::memcpy(&word, data, 4);
  return word;
}

// The 128-bit product of two words, its halves folded together: one
// multiply mixes sixteen bytes.
inline std::uint64_t Mix(std::uint64_t a, std::uint64_t b) {
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// A fast hash of 8-byte words, two lanes for long strings, the last bytes
// read as whole words that overlap ones already read. Only the table's
// layout depends on it, never the output.
std::uint64_t Hash(const char* data, std::size_t size) {
  const std::uint64_t seed = kSecret0 ^ size;
  if (size <= 16) {
    std::uint64_t a = 0, b = 0;
    if (size >= 8) {
      a = Load64(data);
      b = Load64(data + size - 8);
    } else if (size >= 4) {
      a = Load32(data);
      b = Load32(data + size - 4);
    } else if (size > 0) {
      const auto byte = [data](std::size_t i) { return static_cast<unsigned char>(data[i]); };
      a = (std::uint64_t{byte(0)} << 16) | (std::uint64_t{byte(size >> 1)} << 8) | byte(size - 1);
    }
    return Mix(a ^ kSecret1, b ^ seed);
  }
  std::uint64_t h = seed;
  if (size > 32) {
    std::uint64_t g = seed ^ kSecret2;
    do {
      h = Mix(Load64(data) ^ kSecret1, Load64(data + 8) ^ h);
      g = Mix(Load64(data + 16) ^ kSecret2, Load64(data + 24) ^ g);
      data += 32;
      size -= 32;
    } while (size > 32);
    h ^= g;
  }
  if (size > 16) {
    h = Mix(Load64(data) ^ kSecret1, Load64(data + 8) ^ h);
    data += 16;
    size -= 16;
  }
  return Mix(Load64(data + size - 16) ^ kSecret2, Load64(data + size - 8) ^ h);
}

}  // namespace

StringPool::StringPool(platform::LargeString& block) : block_(block), slots_(1024, Slot{0, 0, 0}) {}

std::uint32_t StringPool::HashOf(std::string_view text) {
  return static_cast<std::uint32_t>(Hash(text.data(), text.size()));
}

std::int64_t StringPool::Intern(std::string_view text, std::uint32_t hash) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].offset != 0) {
    const Slot& slot = slots_[i];
    if (slot.hash == hash && slot.length == text.size() &&
        std::memcmp(block_.data() + slot.offset, text.data(), text.size()) == 0) {
      return slot.offset;
    }
    i = (i + 1) & mask;
  }

  // Offsets are signed 32-bit in the table, so the block may not grow past
  // INT32_MAX bytes.
  const std::size_t offset = block_.size();
  if (text.size() + 1 >
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) - offset) {
    return -1;
  }
  block_.append(text);
  block_.push_back('\0');
  slots_[i] =
      Slot{hash, static_cast<std::uint32_t>(text.size()), static_cast<std::int32_t>(offset)};
  if (++used_ * 2 > slots_.size()) Grow();
  return static_cast<std::int64_t>(offset);
}

void StringPool::Grow() {
  std::vector<Slot, platform::LargeAllocator<Slot>> old(slots_.size() * 2, Slot{0, 0, 0});
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.offset == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].offset != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace dbcpack
