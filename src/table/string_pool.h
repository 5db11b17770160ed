// Deduplicates string values while they are appended to a table's string
// block: an open-addressing hash table whose keys are the strings already in
// the block, so no string is stored twice in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/large_memory.h"

namespace dbcpack {

class StringPool {
 public:
  // `block` is the string block being built; it must hold its initial NUL.
  explicit StringPool(platform::LargeString& block);

  // Offset of `text` in the block, appending it and a NUL when first met.
  // Returns -1 when appending would grow the block past INT32_MAX bytes.
  // REQUIRES: text is not empty.
  std::int64_t Intern(std::string_view text) { return Intern(text, HashOf(text)); }

  // The same, for a caller that computed the hash ahead.
  // REQUIRES: hash == HashOf(text).
  std::int64_t Intern(std::string_view text, std::uint32_t hash);

  static std::uint32_t HashOf(std::string_view text);

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

  void Grow();

  platform::LargeString& block_;
  std::vector<Slot, platform::LargeAllocator<Slot>> slots_;
  std::size_t used_ = 0;
};

}  // namespace dbcpack
