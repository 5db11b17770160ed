// String deduplication for the string block. Keys are (offset, length)
// pairs into the block itself, so a distinct string costs one 12-byte slot
// beside its bytes in the block.
#include "table/string_pool.h"

#include <algorithm>
#include <limits>

namespace dbcpack {

namespace string_hash {

std::uint64_t HashLong(const char* data, std::size_t size) {
  const std::uint64_t seed = kSecret0 ^ size;
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

}  // namespace string_hash

namespace {

constexpr std::size_t kMinSlots = 1024;
constexpr std::size_t kMaxInitialSlots = std::size_t{1} << 18;
// Text per distinct string assumed when sizing the table: real tables
// repeat their strings, so that few have fewer.
constexpr std::size_t kTextPerString = 128;

// Slots for about textSize / kTextPerString strings at most half full,
// within bounds: a table sized for a large text takes a few megabytes at
// most, and grows past them as it did.
std::size_t InitialSlots(std::size_t textSize) {
  const std::size_t wanted = std::min(2 * (textSize / kTextPerString), kMaxInitialSlots);
  std::size_t slots = kMinSlots;
  while (slots < wanted) slots *= 2;
  return slots;
}

}  // namespace

StringPool::StringPool(platform::LargeString& block, std::size_t textSize)
    : block_(block), slots_(InitialSlots(textSize), Slot{0, 0, 0}) {}

std::int64_t StringPool::Insert(std::string_view text, std::uint32_t hash, std::size_t i) {
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
