// Bytes read from a file in chunks, compared with a sequence of pieces as
// if the pieces were one block: both sides of the platform seam compare an
// existing output with the pieces of a new one this way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace dbcpack::platform {

class PieceCursor {
 public:
  explicit PieceCursor(std::span<const std::string_view> pieces) : pieces_(pieces) {}

  // Whether `chunk` is the next `size` bytes of the pieces.
  // REQUIRES: the pieces hold at least that many bytes more.
  bool Matches(const char* chunk, std::size_t size) {
    while (size > 0) {
      while (inPiece_ == pieces_[piece_].size()) {
        ++piece_;
        inPiece_ = 0;
      }
      const std::size_t step = std::min(size, pieces_[piece_].size() - inPiece_);
      if (std::memcmp(chunk, pieces_[piece_].data() + inPiece_, step) != 0) return false;
      chunk += step;
      size -= step;
      inPiece_ += step;
    }
    return true;
  }

 private:
  std::span<const std::string_view> pieces_;
  std::size_t piece_ = 0;
  std::size_t inPiece_ = 0;
};

}  // namespace dbcpack::platform
