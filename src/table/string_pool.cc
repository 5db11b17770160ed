// String deduplication for the string block. Keys are (offset, length)
// pairs into the block itself, so a distinct string costs one 12-byte slot
// beside its bytes in the block.
#include "table/string_pool.h"

#include <cstring>
#include <limits>

namespace dbcpack {
namespace {

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

inline std::uint64_t Load64(const char* data) {
  std::uint64_t word;
  std::memcpy(&word, data, 8);
  return word;
}

inline std::uint64_t Mix(std::uint64_t h, std::uint64_t word) {
  h = (h ^ word) * kMultiplier;
  return h ^ (h >> 32);
}

// A fast multiplicative hash over 8-byte words, four independent lanes for
// long strings; only the table's layout depends on it, never the output.
std::uint64_t Hash(const char* data, std::size_t size) {
  std::uint64_t h = kMultiplier ^ size;
  if (size >= 32) {
    std::uint64_t a = h, b = h + 1, c = h + 2, d = h + 3;
    do {
      a = Mix(a, Load64(data));
      b = Mix(b, Load64(data + 8));
      c = Mix(c, Load64(data + 16));
      d = Mix(d, Load64(data + 24));
      data += 32;
      size -= 32;
    } while (size >= 32);
    h = Mix(Mix(Mix(a, b), c), d);
  }
  while (size >= 8) {
    h = Mix(h, Load64(data));
    data += 8;
    size -= 8;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, data, size);
  return Mix(h, tail);
}

}  // namespace

StringPool::StringPool(platform::LargeString& block) : block_(block), slots_(1024, Slot{0, 0, 0}) {}

std::int64_t StringPool::Intern(std::string_view text) {
  const std::uint32_t hash = static_cast<std::uint32_t>(Hash(text.data(), text.size()));
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
