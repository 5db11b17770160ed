// Which values of a four-byte field can be string offsets: the empty
// string at 0, or the start of a string of the block, right behind a NUL,
// whose own NUL lies inside the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dbcpack {

class StringStarts {
 public:
  explicit StringStarts(std::string_view block)
      : block_(block),
        lastNul_(block.rfind('\0') == std::string_view::npos ? 0 : block.rfind('\0')) {}

  std::string_view Block() const { return block_; }

  // Whether `offset` starts a non-empty string that ends inside the block.
  bool IsStart(std::uint32_t offset) const {
    return offset != 0 && offset < lastNul_ && block_[offset - 1] == '\0' && block_[offset] != '\0';
  }

 private:
  std::string_view block_;
  std::size_t lastNul_;
};

}  // namespace dbcpack
