// The POSIX side of the platform seam: files, directory listings and the
// terminal, each turned into a plain success or failure here, with errno
// turned into its text, so that the logic above never sees errno.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/piece_cursor.h"
#include "platform/platform.h"

namespace dbcpack::platform {
namespace {

// strerror_r rather than strerror, whose buffer may be shared between
// threads (a CSV file is written on a thread of its own). glibc's variant
// returns the text; the XSI one fills the buffer and returns 0.
[[maybe_unused]] const char* ChosenText(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* ChosenText(const char* text, const char*) { return text; }

std::string ErrorText(int error) {
  char buffer[256] = "";
  return ChosenText(::strerror_r(error, buffer, sizeof buffer), buffer);
}

void SetReason(std::string* reason, std::string_view text) {
  if (reason != nullptr) reason->assign(text);
}

constexpr std::string_view kNotARegularFile = "Not a regular file";

// Closes a descriptor that was only read: nothing can be lost, so a failure
// has nothing to report.
void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;  // no progress and no error: the device took nothing
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

mode_t CreationMode() {
  // The mode a plain creat(path, 0666) would give, honouring the umask,
  // which can only be read by setting it.
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace

std::string ErrorNumberText(int error) { return ErrorText(error); }

bool IsStandardOutput(const std::string& path) {
  struct stat output;
  struct stat file;
  return ::fstat(STDOUT_FILENO, &output) == 0 && ::stat(path.c_str(), &file) == 0 &&
         S_ISREG(output.st_mode) && output.st_dev == file.st_dev && output.st_ino == file.st_ino;
}

// ---- Whole files --------------------------------------------------------

namespace {

// A mapped file that shrinks while it is read (another program truncates
// it) would kill the process with SIGBUS on the next access. The handler
// puts zero pages in place of the vanished part instead and notes the fault,
// so the read is reported as failed and the batch goes on.
std::atomic<char*> gMappedBegin{nullptr};
std::atomic<char*> gMappedEnd{nullptr};
volatile sig_atomic_t gMappedFault = 0;
std::size_t gPageSize = 4096;

extern "C" void OnBusError(int signal, siginfo_t* info, void*) {
  char* const address = static_cast<char*>(info->si_addr);
  char* const begin = gMappedBegin.load();
  char* const end = gMappedEnd.load();
  if (begin != nullptr && address >= begin && address < end) {
    // The page start, found by stepping back from the address itself rather
    // than by turning an integer into a pointer.
    char* const from = address - (reinterpret_cast<std::uintptr_t>(address) & (gPageSize - 1));
    if (::mmap(from, static_cast<std::size_t>(end - from), PROT_READ,
               MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
      gMappedFault = 1;
      return;
    }
  }
  // Not ours: let the default action end the process on the retried access.
  // signal() fails only for an invalid signal number.
  (void)::signal(signal, SIG_DFL);
}

void InstallBusErrorHandler() {
  static const bool installed = [] {
    gPageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  (void)installed;
}

// Files below this size are read: a mapping costs more than it saves.
constexpr std::size_t kMapThreshold = std::size_t{256} * 1024;

bool ReadAll(int fd, std::size_t sizeHint, std::string& contents) {
  // One extra byte lets the read that reports the end need no second
  // growth; a file that grows meanwhile is still read to its end.
  std::size_t capacity = sizeHint + 1;
  contents.resize(capacity);
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      capacity *= 2;
      contents.resize(capacity);
    }
    const ssize_t n = ::read(fd, contents.data() + size, capacity - size);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      contents.clear();
      return false;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  contents.resize(size);
  return true;
}

}  // namespace

FileContents::~FileContents() { Unmap(); }

void FileContents::Unmap() {
  if (mapping_ == nullptr) return;
  gMappedBegin.store(nullptr);
  gMappedEnd.store(nullptr);
  ::munmap(mapping_, mappingSize_);
  mapping_ = nullptr;
  mappingSize_ = 0;
  view_ = std::string_view();
}

bool FileContents::Intact() const { return mapping_ == nullptr || gMappedFault == 0; }

void FileContents::Assign(std::string bytes) {
  Unmap();
  buffer_ = std::move(bytes);
  view_ = buffer_;
}

ReadResult ReadWholeFile(const std::string& path, FileContents& contents, std::string* reason) {
  // O_NONBLOCK so that opening a FIFO with no writer cannot hang the batch;
  // it is refused just below anyway.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    SetReason(reason, ErrorText(errno));
    return ReadResult::CannotOpen;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetReason(reason, ErrorText(errno));
    CloseQuietly(fd);
    return ReadResult::CannotRead;
  }
  if (!S_ISREG(st.st_mode)) {
    SetReason(reason, S_ISDIR(st.st_mode) ? ErrorText(EISDIR) : std::string(kNotARegularFile));
    CloseQuietly(fd);
    return ReadResult::CannotOpen;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size >= kMapThreshold) {
    InstallBusErrorHandler();
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapping != MAP_FAILED) {
      CloseQuietly(fd);
      contents.Unmap();
      contents.buffer_.clear();
      contents.mapping_ = mapping;
      contents.mappingSize_ = size;
      contents.view_ = std::string_view(static_cast<const char*>(mapping), size);
      gMappedFault = 0;
      gMappedBegin.store(static_cast<char*>(mapping));
      gMappedEnd.store(static_cast<char*>(mapping) + size);
      return ReadResult::Read;
    }
  }
  std::string bytes;
  const bool ok = ReadAll(fd, size, bytes);
  if (!ok) SetReason(reason, ErrorText(errno));
  CloseQuietly(fd);
  if (!ok) return ReadResult::CannotRead;
  contents.Assign(std::move(bytes));
  return ReadResult::Read;
}

DirectoryListing::~DirectoryListing() {
  if (handle_ != nullptr) ::closedir(static_cast<DIR*>(handle_));
}

bool DirectoryListing::Open(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    failure_ = ErrorText(errno);
    return false;
  }
  struct stat st;
  if (::fstat(::dirfd(dir), &st) != 0) {
    failure_ = ErrorText(errno);
    ::closedir(dir);
    return false;
  }
  handle_ = dir;
  path_ = path;
  id_ = DirectoryId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
  errno = 0;
  const dirent* ent = ::readdir(static_cast<DIR*>(handle_));
  if (ent == nullptr) {
    // The end of the listing leaves errno alone; a failed read sets it.
    if (errno != 0) failure_ = ErrorText(errno);
    return false;
  }
  name_ = ent->d_name;
  unsigned char type = ent->d_type;
  if (type == DT_UNKNOWN) {
    // Some file systems leave the kind out of the listing; lstat keeps a
    // symbolic link a link.
    struct stat st;
    const std::string full = path_ + "/" + name_;
    if (::lstat(full.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        type = DT_DIR;
      } else if (S_ISCHR(st.st_mode)) {
        type = DT_CHR;
      } else if (S_ISBLK(st.st_mode)) {
        type = DT_BLK;
      }
    }
  }
  entry.name = name_;
  entry.kind = type == DT_DIR                       ? EntryKind::Directory
               : (type == DT_CHR || type == DT_BLK) ? EntryKind::Device
                                                    : EntryKind::File;
  return true;
}

namespace {

// The temporary file being written, kept where a signal handler can reach
// it without allocating: an interrupted run (Ctrl-C, a terminal closed)
// removes it instead of leaving it beside the tables.
char gActiveTemp[4096];
volatile sig_atomic_t gHasActiveTemp = 0;

void SetActiveTemp(const std::string& path) {
  gHasActiveTemp = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path.size() >= sizeof gActiveTemp) return;
  std::memcpy(gActiveTemp, path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gHasActiveTemp = 1;
}

void ClearActiveTemp() { gHasActiveTemp = 0; }

extern "C" void RemoveTempAndReraise(int signal) {
  if (gHasActiveTemp) ::unlink(gActiveTemp);
  // Neither can fail for the valid signal being handled.
  (void)::signal(signal, SIG_DFL);
  (void)::raise(signal);
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

bool ReplacementFile::Create(const std::string& finalPath) {
  finalPath_ = finalPath;
  // The random suffix is letters and digits, so the name can never end in
  // ".csv" and be taken for a table by a later run.
  std::string pattern = finalPath + ".tmpXXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    failure_ = ErrorText(errno);
    return false;
  }
  tempPath_ = pattern;
  SetActiveTemp(tempPath_);
  handle_ = fd;
  if (::fchmod(fd, CreationMode()) != 0) {
    failure_ = ErrorText(errno);
    Discard();
    return false;
  }
  return true;
}

bool ReplacementFile::Write(const char* data, std::size_t size) {
  if (handle_ < 0) return false;
  if (WriteAll(static_cast<int>(handle_), data, size)) return true;
  failure_ = ErrorText(errno);
  return false;
}

bool ReplacementFile::Close() {
  if (handle_ < 0) return false;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (::close(fd) == 0) return true;
  failure_ = ErrorText(errno);
  return false;
}

bool ReplacementFile::Commit() {
  if (tempPath_.empty() || handle_ >= 0) return false;
  // rename replaces a symbolic link at the final name instead of writing
  // through it, and fails on a directory there.
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    failure_ = ErrorText(errno);
    return false;
  }
  ClearActiveTemp();
  tempPath_.clear();
  return true;
}

void ReplacementFile::Discard() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
  if (!tempPath_.empty()) {
    ClearActiveTemp();
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

bool ReplacementFile::CommitWithoutReplacing(bool& existed) {
  existed = false;
  if (tempPath_.empty() || handle_ >= 0) return false;
  // A hard link is made only where the name is free, atomically; the
  // temporary name then goes, leaving the file under its final name alone.
  if (::link(tempPath_.c_str(), finalPath_.c_str()) == 0) {
    ::unlink(tempPath_.c_str());
  } else if (errno == EEXIST) {
    existed = true;
    return false;
  } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS) {
    // A file system without hard links (FAT, some network shares): look,
    // then move, which is not atomic but the best such a system allows.
    if (Exists(finalPath_)) {
      existed = true;
      return false;
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
      failure_ = ErrorText(errno);
      return false;
    }
  } else {
    failure_ = ErrorText(errno);
    return false;
  }
  ClearActiveTemp();
  tempPath_.clear();
  return true;
}

// ---- Paths and large memory ---------------------------------------------

PathKind KindOf(const std::string& path, std::string* reason) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    SetReason(reason, ErrorText(errno));
    return PathKind::Missing;
  }
  if (S_ISREG(st.st_mode)) return PathKind::File;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

namespace {

// Compares the open file, from its current position, with `pieces`, reading
// it in chunks: reading copies once, where mapping it would take a page
// fault per page, which costs more on virtual machines.
bool SameBytes(int fd, std::span<const std::string_view> pieces, std::size_t total) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::string buffer(total < kChunk ? total : kChunk, '\0');
  PieceCursor cursor(pieces);
  std::size_t left = total;
  while (left > 0) {
    const std::size_t want = left < buffer.size() ? left : buffer.size();
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(fd, buffer.data() + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    left -= got;
    if (!cursor.Matches(buffer.data(), got)) return false;
  }
  return true;
}

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t LargeMappingSize(std::size_t size) { return (size + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

bool RefreshIfIdentical(const std::string& path, std::span<const std::string_view> pieces) {
  std::size_t total = 0;
  for (const std::string_view piece : pieces) total += piece.size();
  // O_NOFOLLOW: a link at the output name is replaced by a real file, never
  // taken for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<std::uint64_t>(st.st_size) == total && SameBytes(fd, pieces, total);
  // Now, as a write would have left it; a file that cannot be touched is
  // written anew instead.
  same = same && ::futimens(fd, nullptr) == 0;
  CloseQuietly(fd);
  return same;
}

void* AllocateLarge(std::size_t size) {
  if (size < kHugePage) return std::calloc(size == 0 ? 1 : size, 1);
  // Mapped a huge page larger than asked, then trimmed to start on a huge
  // page boundary, so that every whole huge page of it can be one.
  const std::size_t length = LargeMappingSize(size);
  void* mapping = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  char* const raw = static_cast<char*>(mapping);
  const std::size_t skew = reinterpret_cast<std::uintptr_t>(raw) & (kHugePage - 1);
  const std::size_t head = skew == 0 ? 0 : kHugePage - skew;
  char* const aligned = raw + head;
  if (head > 0) ::munmap(raw, head);
  ::munmap(aligned + length, kHugePage - head);
#ifdef MADV_HUGEPAGE
  // Only advice: without it the memory is the same, in small pages.
  (void)::madvise(aligned, length, MADV_HUGEPAGE);
#endif
  return aligned;
}

void FreeLarge(void* memory, std::size_t size) {
  if (memory == nullptr) return;
  if (size < kHugePage) {
    std::free(memory);
    return;
  }
  ::munmap(memory, LargeMappingSize(size));
}

// ---- The key wait -------------------------------------------------------

namespace {

// What the signal handler needs to put the terminal back.
volatile sig_atomic_t gTerminalSaved = 0;
int gTerminalFd = -1;
struct termios gSavedTerminal;

// The prompt is wiped with a carriage return, as many spaces as it has
// bytes and another carriage return: every terminal understands that, where
// an erase sequence would show as garbage on a dumb one. It is made before
// the wait so that the signal handler only has to write it.
char gWipe[258];
volatile sig_atomic_t gWipeLength = 0;

void ShowPrompt(int fd, std::string_view prompt) {
  // A prompt longer than a line of any terminal would wrap, and the wipe
  // could not reach its first part; none of ours comes near.
  if (prompt.empty() || prompt.size() + 2 > sizeof gWipe) return;
  std::memset(gWipe, ' ', prompt.size() + 2);
  gWipe[0] = '\r';
  gWipe[prompt.size() + 1] = '\r';
  if (WriteAll(fd, prompt.data(), prompt.size())) {
    gWipeLength = static_cast<sig_atomic_t>(prompt.size() + 2);
  }
}

void WipePrompt() {
  if (gWipeLength > 0) {
    // Nothing more can be done for a terminal that takes no output.
    (void)WriteAll(gTerminalFd, gWipe, static_cast<std::size_t>(gWipeLength));
    gWipeLength = 0;
  }
}

void RestoreTerminal() {
  if (gTerminalSaved) {
    ::tcsetattr(gTerminalFd, TCSAFLUSH, &gSavedTerminal);
    gTerminalSaved = 0;
  }
}

extern "C" void RestoreAndReraise(int signal) {
  // Both write and tcsetattr are async-signal-safe; errno is the only
  // state they touch, and the process ends here.
  WipePrompt();
  RestoreTerminal();
  // Neither can fail for the valid signal being handled.
  (void)::signal(signal, SIG_DFL);
  (void)::raise(signal);
}

// The signals that end a wait, which must not leave the terminal raw.
constexpr int kWaitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void CatchWaitSignals(struct sigaction (&old)[std::size(kWaitSignals)]) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RestoreAndReraise;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kWaitSignals); ++i) {
    ::sigaction(kWaitSignals[i], &action, &old[i]);
  }
}

void ReleaseWaitSignals(const struct sigaction (&old)[std::size(kWaitSignals)]) {
  for (std::size_t i = 0; i < std::size(kWaitSignals); ++i) {
    ::sigaction(kWaitSignals[i], &old[i], nullptr);
  }
}

// Reads whatever else a key sent (the rest of an escape sequence), giving
// each further byte a tenth of a second to arrive.
void DrainKeySequence(int fd, struct termios raw) {
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 1;
  if (::tcsetattr(fd, TCSANOW, &raw) != 0) return;
  char bytes[64];
  while (::read(fd, bytes, sizeof bytes) > 0) {
  }
}

void ReadOneKey(int fd, const struct termios& raw) {
  char byte;
  for (;;) {
    const ssize_t n = ::read(fd, &byte, 1);
    if (n > 0) break;
    if (n < 0 && errno == EINTR) continue;
    break;  // end of file or error: the terminal is gone
  }
  DrainKeySequence(fd, raw);
}

}  // namespace

void WaitForKey(std::string_view prompt) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;  // no terminal: nothing to wait for
  if (::tcgetattr(fd, &gSavedTerminal) != 0) {
    ::close(fd);
    return;
  }
  gTerminalFd = fd;
  struct sigaction old[std::size(kWaitSignals)];
  CatchWaitSignals(old);
  gTerminalSaved = 1;

  // No echo, no line editing, and Ctrl-C arrives as a byte like any key.
  struct termios raw = gSavedTerminal;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // TCSAFLUSH drops the keys typed before the wait began; the prompt comes
  // after it, when the key that answers it can be read.
  if (::tcsetattr(fd, TCSAFLUSH, &raw) == 0) {
    ShowPrompt(fd, prompt);
    ReadOneKey(fd, raw);
  }

  WipePrompt();
  RestoreTerminal();
  ReleaseWaitSignals(old);
  gTerminalFd = -1;
  ::close(fd);
}

bool HasOwnConsoleWindow() { return false; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

void InitProcess() {
  // Past a file size limit a write should fail and be reported, not kill
  // the process half way through the batch; the same for a reader of our
  // output that went away.
  // signal() fails only for an invalid signal number.
  (void)::signal(SIGXFSZ, SIG_IGN);
  (void)::signal(SIGPIPE, SIG_IGN);
  // The walk keeps one directory listing open per level of the tree, so a
  // deep tree would run out of descriptors at the usual soft limit (often
  // 1024) and lose its deepest tables without a word. The hard limit is
  // ours to take; a few thousand cover any path the system can name.
  struct rlimit files;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    const rlim_t wanted = files.rlim_max < 16384 ? files.rlim_max : 16384;
    if (files.rlim_cur < wanted) {
      files.rlim_cur = wanted;
      (void)::setrlimit(RLIMIT_NOFILE, &files);  // best effort: the old limit still works
    }
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction old;
    if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempAndReraise;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace dbcpack::platform
