// Deduplicates string values while they are appended to a table's string
// block: an open-addressing hash table whose keys are the strings already in
// the block, so no string is stored twice in memory. The look-up is inline,
// for the loader's hot loop; only a new string takes a call.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/large_memory.h"

namespace dbcpack {

namespace string_hash {

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

constexpr std::uint64_t kSecret0 = 0xA0761D6478BD642Full;
constexpr std::uint64_t kSecret1 = 0xE7037ED1A0B428DBull;
constexpr std::uint64_t kSecret2 = 0x8EBC6AF09C88C6E3ull;

// Strings of more than 16 bytes: two lanes of 16-byte blocks.
std::uint64_t HashLong(const char* data, std::size_t size);

// A fast hash of 8-byte words, the last bytes read as whole words that
// overlap ones already read. Only the table's layout depends on it, never
// the output.
inline std::uint64_t Hash(const char* data, std::size_t size) {
  if (size > 16) return HashLong(data, size);
  const std::uint64_t seed = kSecret0 ^ size;
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

}  // namespace string_hash

class StringPool {
 public:
  // `block` is the string block being built; it must hold its initial NUL.
  // `textSize`, the size of the text the strings come from, sizes the
  // table so that it seldom grows.
  explicit StringPool(platform::LargeString& block, std::size_t textSize = 0);

  // Offset of `text` in the block, appending it and a NUL when first met.
  // Returns -1 when appending would grow the block past INT32_MAX bytes.
  // REQUIRES: text is not empty.
  std::int64_t Intern(std::string_view text) { return Intern(text, HashOf(text)); }

  // The same, for a caller that computed the hash ahead.
  // REQUIRES: hash == HashOf(text).
  std::int64_t Intern(std::string_view text, std::uint32_t hash) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.offset == 0) return Insert(text, hash, i);
      if (slot.hash == hash && slot.length == text.size() &&
          std::memcmp(block_.data() + slot.offset, text.data(), text.size()) == 0) {
        return slot.offset;
      }
    }
  }

  static std::uint32_t HashOf(std::string_view text) {
    return static_cast<std::uint32_t>(string_hash::Hash(text.data(), text.size()));
  }

  // Hints for a caller that looks ahead at several strings, so that their
  // cache misses overlap: the memory an Intern of a text with this hash
  // will read first (its slot), then, once that has arrived, the string
  // the slot holds.
  void PrefetchSlot(std::uint32_t hash) const {
    __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
  }
  void PrefetchString(std::uint32_t hash) const {
    const Slot& slot = slots_[hash & (slots_.size() - 1)];
    if (slot.hash == hash) __builtin_prefetch(block_.data() + slot.offset);
  }

 private:
  struct Slot {
    std::uint32_t hash;
    std::uint32_t length;
    std::int32_t offset;  // 0 marks a free slot: the empty string is never stored
  };

  // Appends `text` to the block and takes the free slot `i` for it.
  std::int64_t Insert(std::string_view text, std::uint32_t hash, std::size_t i);
  void Grow();

  platform::LargeString& block_;
  std::vector<Slot, platform::LargeAllocator<Slot>> slots_;
  std::size_t used_ = 0;
};

}  // namespace dbcpack
