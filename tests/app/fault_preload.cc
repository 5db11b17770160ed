// Preloaded into a program under test (LD_PRELOAD), this library makes two
// faults happen on cue that no test can cause from outside, each only for
// paths that ask for it by name:
// - a file whose path holds "cut-short" is cut to half its size right after
//   it is mapped, as when another program truncates a file while it is read;
// - the listing of a folder whose path holds "failing-listing" fails at its
//   first entry with an input/output error, as on a failing disk.
// Everything else passes straight to the C library.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kCutShort[] = "cut-short";
constexpr char kFailingListing[] = "failing-listing";

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

void CutShortIfAsked(int fd, std::size_t length) {
  if (fd < 0) return;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t size = ::readlink(link, path, sizeof path - 1);
  if (size <= 0) return;
  path[size] = '\0';
  if (std::strstr(path, kCutShort) != nullptr) {
    (void)::truncate(path, static_cast<off_t>(length / 2));
  }
}

// The listings that are to fail; a few are plenty for a test.
std::array<std::atomic<DIR*>, 16> gFailing{};

}  // namespace

extern "C" {

void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  using Mmap = void* (*)(void*, std::size_t, int, int, int, off_t);
  static const Mmap next = Next<Mmap>("mmap");
  void* const mapped = next(address, length, protection, flags, fd, offset);
  if (mapped != MAP_FAILED) CutShortIfAsked(fd, length);
  return mapped;
}

void* mmap64(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  return mmap(address, length, protection, flags, fd, offset);
}

DIR* opendir(const char* path) {
  using Opendir = DIR* (*)(const char*);
  static const Opendir next = Next<Opendir>("opendir");
  DIR* const dir = next(path);
  if (dir != nullptr && std::strstr(path, kFailingListing) != nullptr) {
    for (std::atomic<DIR*>& slot : gFailing) {
      DIR* empty = nullptr;
      if (slot.compare_exchange_strong(empty, dir)) break;
    }
  }
  return dir;
}

dirent* readdir(DIR* dir) {
  using Readdir = dirent* (*)(DIR*);
  static const Readdir next = Next<Readdir>("readdir");
  for (const std::atomic<DIR*>& slot : gFailing) {
    if (slot.load() == dir) {
      errno = EIO;
      return nullptr;
    }
  }
  return next(dir);
}

int closedir(DIR* dir) {
  using Closedir = int (*)(DIR*);
  static const Closedir next = Next<Closedir>("closedir");
  for (std::atomic<DIR*>& slot : gFailing) {
    DIR* expected = dir;
    slot.compare_exchange_strong(expected, nullptr);
  }
  return next(dir);
}

}  // extern "C"
