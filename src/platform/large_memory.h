// Owners of the big buffers of a table (its records, its string block, the
// hash table that deduplicates strings), built on AllocateLarge so that they
// come in huge pages where the system has them: hundreds of megabytes then
// cost a few hundred page faults instead of tens of thousands.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace dbcpack::platform {

// A standard allocator over AllocateLarge, for containers that grow.
template <typename T>
struct LargeAllocator {
  using value_type = T;

  LargeAllocator() = default;
  template <typename U>
  explicit LargeAllocator(const LargeAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    void* memory = AllocateLarge(count * sizeof(T));
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* memory, std::size_t count) noexcept { FreeLarge(memory, count * sizeof(T)); }

  friend bool operator==(const LargeAllocator&, const LargeAllocator&) { return true; }
};

// A byte string whose storage is a large buffer once it is large.
using LargeString = std::basic_string<char, std::char_traits<char>, LargeAllocator<char>>;

// A fixed-size, zero-filled block of bytes with one owner.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;
  LargeBuffer(LargeBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  LargeBuffer& operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~LargeBuffer() { Release(); }

  // Replaces the contents with `size` zero bytes; throws std::bad_alloc
  // when there is not enough memory.
  void Allocate(std::size_t size) {
    Release();
    data_ = static_cast<char*>(AllocateLarge(size));
    if (data_ == nullptr) throw std::bad_alloc();
    size_ = size;
  }

  void Release() {
    FreeLarge(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }

  char* Data() { return data_; }
  const char* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace dbcpack::platform
