// Work shared by two threads, for the few loops of an unpack that are long
// enough to be worth it on a machine of two cores. Without a thread to be
// had, the work is done on the caller's thread, one half after the other.
#pragma once

#include <cstddef>
#include <system_error>
#include <thread>

namespace dbcpack::platform {

// Calls work(0, middle) on the caller's thread and work(middle, count) on
// a second one, middle being `count` / 2, or work(0, count) alone when
// `count` is below `enough`. Returns once both halves are done.
template <typename Work>
void InTwoHalves(std::size_t count, std::size_t enough, Work work) {
  if (count < enough || count < 2) {
    work(std::size_t{0}, count);
    return;
  }
  const std::size_t middle = count / 2;
  std::jthread second;
  try {
    second = std::jthread([&] { work(middle, count); });
  } catch (const std::system_error&) {
    work(middle, count);
  }
  work(std::size_t{0}, middle);
}

}  // namespace dbcpack::platform
