// The Windows side of the platform seam: files, directory listings and the
// console, each failure turned into the system's own words for it here.
// Paths stay UTF-8 with "/" separators everywhere above this file,
// exactly as on POSIX, and become UTF-16 only here, at the edge of each
// system call, so messages read the same on both systems.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/piece_cursor.h"
#include "platform/platform.h"

namespace dbcpack::platform {
namespace {

// ReadFile and WriteFile take 32-bit sizes; larger transfers go in pieces.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool Utf8ToWide(std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length) == length;
}

bool WideToUtf8(std::wstring_view wide, std::string& text) {
  text.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  text.resize(static_cast<std::size_t>(length));
  return ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr,
                               nullptr) == length;
}

// The wide form of a path for the file system calls. Paths short enough for
// the classic limit go as they are, "/" separators and all, which Windows
// accepts. Longer ones, deep in a tree, are made absolute and given the
// "\\?\" prefix, which lifts the limit; GetFullPathNameW does the one thing
// that prefix no longer does for us, turning "/" into "\" and resolving "."
// and "..".
bool ToSystemPath(const std::string& path, std::wstring& wide) {
  if (!Utf8ToWide(path, wide)) return false;
  // Room for the "\*" of a listing pattern or an 8.3 name below a directory.
  if (wide.size() < MAX_PATH - 12) return true;
  if (wide.rfind(L"\\\\?\\", 0) == 0) return true;
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) {
    // A share, \\server\share\...; device paths (\\.\) are left alone.
    if (full.rfind(L"\\\\.\\", 0) == 0 || full.rfind(L"\\\\?\\", 0) == 0) {
      wide = full;
    } else {
      wide = L"\\\\?\\UNC\\" + full.substr(2);
    }
  } else {
    wide = L"\\\\?\\" + full;
  }
  return true;
}

// The system's text for an error code, in the user's language, as UTF-8
// without the line break and full stop FormatMessage ends it with.
std::string ErrorText(DWORD error) {
  if (error == ERROR_SUCCESS) return "Unknown error";
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  const bool converted = length > 0 && WideToUtf8(std::wstring_view(text, length), words);
  if (text != nullptr) ::LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  if (!converted || words.empty()) return "Error " + std::to_string(error);
  return words;
}

// Read at once after the failing call, before anything else can change it.
std::string LastErrorText() { return ErrorText(::GetLastError()); }

void SetReason(std::string* reason, const std::string& text) {
  if (reason != nullptr) *reason = text;
}

constexpr char kNotARegularFile[] = "Not a regular file";

}  // namespace

// ---- Whole files --------------------------------------------------------

// Files are always read, never mapped, here: a mapped view of a file on a
// share that goes away part way would fault with no way back, and reading
// costs one copy at most.
FileContents::~FileContents() { Unmap(); }

void FileContents::Unmap() { view_ = std::string_view(); }

bool FileContents::Intact() const { return true; }

void FileContents::Assign(std::string bytes) {
  buffer_ = std::move(bytes);
  view_ = buffer_;
}

ReadResult ReadWholeFile(const std::string& path, FileContents& contents, std::string* reason) {
  std::wstring wide;
  if (!ToSystemPath(path, wide)) {
    SetReason(reason, LastErrorText());
    return ReadResult::CannotOpen;
  }
  // Other programs may hold the table open (a spreadsheet, an editor);
  // reading must not be refused for that, nor stop them.
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetReason(reason, LastErrorText());
    return ReadResult::CannotOpen;
  }
  // A name such as "con.csv" or "nul.csv" opens a device, not a file.
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetReason(reason, kNotARegularFile);
    ::CloseHandle(file);
    return ReadResult::CannotOpen;
  }
  const std::uint64_t fileSize =
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  // One extra byte lets the read that reports the end need no second
  // growth; a file that grows meanwhile is still read to its end.
  std::size_t capacity = static_cast<std::size_t>(fileSize) + 1;
  std::string bytes(capacity, '\0');
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      capacity *= 2;
      bytes.resize(capacity);
    }
    const DWORD want = static_cast<DWORD>(std::min(capacity - size, kMaxTransfer));
    DWORD got = 0;
    if (!::ReadFile(file, bytes.data() + size, want, &got, nullptr)) {
      SetReason(reason, LastErrorText());
      ::CloseHandle(file);
      return ReadResult::CannotRead;
    }
    if (got == 0) break;
    size += got;
  }
  ::CloseHandle(file);
  bytes.resize(size);
  contents.Assign(std::move(bytes));
  return ReadResult::Read;
}

// ---- Directory listings -------------------------------------------------

namespace {

// What a listing keeps between calls: FindFirstFileW already returns the
// first entry, which Next hands out before asking for more.
struct FindState {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data;
  bool pending = false;
};

}  // namespace

DirectoryListing::~DirectoryListing() {
  auto* state = static_cast<FindState*>(handle_);
  if (state == nullptr) return;
  if (state->find != INVALID_HANDLE_VALUE) ::FindClose(state->find);
  delete state;
}

bool DirectoryListing::Open(const std::string& path) {
  std::wstring wide;
  if (!ToSystemPath(path, wide)) {
    failure_ = LastErrorText();
    return false;
  }
  // The directory's identity comes from a handle on the directory itself;
  // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open one. It also
  // opens plain files, which are no directory to list.
  const HANDLE dir = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) {
    failure_ = LastErrorText();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool isDirectory = ::GetFileInformationByHandle(dir, &info) &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  ::CloseHandle(dir);
  if (!isDirectory) {
    failure_ = ErrorText(ERROR_DIRECTORY);
    return false;
  }

  auto* state = new FindState;
  const wchar_t* separator = wide.rfind(L"\\\\?\\", 0) == 0 ? L"\\*" : L"/*";
  state->find = ::FindFirstFileExW((wide + separator).c_str(), FindExInfoBasic, &state->data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (state->find == INVALID_HANDLE_VALUE) {
    // The root of a drive has no "." or "..", so an empty one has no entry
    // at all; that is an empty listing, not a failure.
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      failure_ = ErrorText(error);
      delete state;
      return false;
    }
  } else {
    state->pending = true;
  }
  handle_ = state;
  path_ = path;
  id_ = DirectoryId{info.dwVolumeSerialNumber,
                    (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
  auto* state = static_cast<FindState*>(handle_);
  if (state == nullptr || state->find == INVALID_HANDLE_VALUE) return false;
  for (;;) {
    if (state->pending) {
      state->pending = false;
    } else if (!::FindNextFileW(state->find, &state->data)) {
      // The end, or a read error: both end this directory.
      const DWORD error = ::GetLastError();
      if (error != ERROR_NO_MORE_FILES) failure_ = ErrorText(error);
      return false;
    }
    // A name that is not valid UTF-16 (a lone surrogate) comes out with
    // U+FFFD in its place; it then names no file, and opening it fails with
    // the usual message. Only a conversion that fails outright skips one.
    if (WideToUtf8(state->data.cFileName, name_)) break;
  }
  const DWORD attributes = state->data.dwFileAttributes;
  bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isDirectory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Junctions, directory symbolic links and mount points (the reparse
    // points that stand for another name) count as files, so the walk never
    // follows one and no cycle of links can trap it. Other reparse points,
    // such as the placeholders of cloud-synced folders, are real
    // directories and are walked. A listing that leaves the tag out (zero,
    // which no reparse point has) gets the safe answer: not walked.
    const DWORD tag = state->data.dwReserved0;
    isDirectory = tag != 0 && !IsReparseTagNameSurrogate(tag);
  }
  entry.name = name_;
  entry.kind = isDirectory ? EntryKind::Directory : EntryKind::File;
  return true;
}

// ---- Replacing a file ---------------------------------------------------

namespace {

// A suffix that differs from one call to the next and from one process to
// another; CREATE_NEW refuses a name that is taken anyway, so it only has to
// make a clash unlikely.
std::uint64_t NextSuffix() {
  static std::uint64_t counter = 0;
  LARGE_INTEGER ticks;
  ::QueryPerformanceCounter(&ticks);
  std::uint64_t x = static_cast<std::uint64_t>(ticks.QuadPart) ^
                    (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ++counter;
  // splitmix64's finaliser spreads the few changing bits over all of them.
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The temporary file being written, where the console control handler can
// reach it from its own thread: an interrupted run (Ctrl+C, Ctrl+Break, the
// window closed) removes it instead of leaving it beside the tables.
SRWLOCK gActiveTempLock = SRWLOCK_INIT;
std::wstring gActiveTemp;

void SetActiveTemp(const std::wstring& path) {
  ::AcquireSRWLockExclusive(&gActiveTempLock);
  gActiveTemp = path;
  ::ReleaseSRWLockExclusive(&gActiveTempLock);
}

void ClearActiveTemp() { SetActiveTemp(std::wstring()); }

void RemoveActiveTemp() {
  ::AcquireSRWLockExclusive(&gActiveTempLock);
  // The file is still open for writing; FILE_SHARE_DELETE lets it be
  // marked now and go when the ending process closes it.
  if (!gActiveTemp.empty()) ::DeleteFileW(gActiveTemp.c_str());
  ::ReleaseSRWLockExclusive(&gActiveTempLock);
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

bool ReplacementFile::Create(const std::string& finalPath) {
  finalPath_ = finalPath;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Hexadecimal digits after ".tmp", so the name can never end in ".csv"
    // and be taken for a table by a later run.
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp%08x",
                  static_cast<unsigned>(NextSuffix() & 0xFFFFFFFFu));
    const std::string candidate = finalPath + suffix;
    std::wstring wide;
    if (!ToSystemPath(candidate, wide)) {
      failure_ = LastErrorText();
      return false;
    }
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      SetActiveTemp(wide);
      tempPath_ = candidate;
      handle_ = reinterpret_cast<intptr_t>(file);
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      failure_ = ErrorText(error);
      return false;
    }
  }
  failure_ = ErrorText(ERROR_FILE_EXISTS);
  return false;
}

bool ReplacementFile::Write(const char* data, std::size_t size) {
  if (handle_ == -1) return false;
  while (size > 0) {
    const DWORD want = static_cast<DWORD>(std::min(size, kMaxTransfer));
    DWORD written = 0;
    if (!::WriteFile(ToHandle(handle_), data, want, &written, nullptr)) {
      failure_ = LastErrorText();
      return false;
    }
    if (written == 0) {
      failure_ = ErrorText(ERROR_WRITE_FAULT);  // no progress and no error
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool ReplacementFile::Close() {
  if (handle_ == -1) return false;
  const HANDLE file = ToHandle(handle_);
  handle_ = -1;
  // A share or a full volume may report a lost write only when the data
  // leaves the cache; it must be known before the old output is replaced.
  const bool flushed = ::FlushFileBuffers(file) != 0;
  if (!flushed) failure_ = LastErrorText();
  const bool closed = ::CloseHandle(file) != 0;
  if (flushed && !closed) failure_ = LastErrorText();
  return flushed && closed;
}

bool ReplacementFile::Commit() {
  if (tempPath_.empty() || handle_ != -1) return false;
  std::wstring from, to;
  // Like rename on POSIX: a link at the final name is replaced, not written
  // through, and a directory there makes the move fail.
  if (!ToSystemPath(tempPath_, from) || !ToSystemPath(finalPath_, to) ||
      !::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    failure_ = LastErrorText();
    return false;
  }
  ClearActiveTemp();
  tempPath_.clear();
  return true;
}

bool ReplacementFile::CommitWithoutReplacing(bool& existed) {
  existed = false;
  if (tempPath_.empty() || handle_ != -1) return false;
  std::wstring from, to;
  if (!ToSystemPath(tempPath_, from) || !ToSystemPath(finalPath_, to)) {
    failure_ = LastErrorText();
    return false;
  }
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
  if (!::MoveFileExW(from.c_str(), to.c_str(), 0)) {
    const DWORD error = ::GetLastError();
    existed = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    if (!existed) failure_ = ErrorText(error);
    return false;
  }
  ClearActiveTemp();
  tempPath_.clear();
  return true;
}

void ReplacementFile::Discard() {
  if (handle_ != -1) {
    ::CloseHandle(ToHandle(handle_));
    handle_ = -1;
  }
  if (!tempPath_.empty()) {
    ClearActiveTemp();
    std::wstring wide;
    if (ToSystemPath(tempPath_, wide)) ::DeleteFileW(wide.c_str());
    tempPath_.clear();
  }
}

// ---- Paths and large memory ---------------------------------------------

PathKind KindOf(const std::string& path, std::string* reason) {
  std::wstring wide;
  if (!ToSystemPath(path, wide)) {
    SetReason(reason, LastErrorText());
    return PathKind::Missing;
  }
  const HANDLE file = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetReason(reason, LastErrorText());
    return PathKind::Missing;
  }
  BY_HANDLE_FILE_INFORMATION info;
  PathKind kind = PathKind::Other;
  if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info)) {
    kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory
                                                                   : PathKind::File;
  }
  ::CloseHandle(file);
  return kind;
}

std::string ErrorNumberText(int error) {
  // The C runtime's own words; the program reads no locale, so they are
  // its English ones. Single-threaded where it is asked.
  const char* text = std::strerror(error);  // NOLINT(concurrency-mt-unsafe)
  return text != nullptr ? text : "Unknown error";
}

bool IsStandardOutput(const std::string& path) {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  BY_HANDLE_FILE_INFORMATION outputInfo;
  if (output == nullptr || output == INVALID_HANDLE_VALUE ||
      ::GetFileType(output) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(output, &outputInfo)) {
    return false;
  }
  std::wstring wide;
  if (!ToSystemPath(path, wide)) return false;
  const HANDLE file = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION fileInfo;
  const bool same = ::GetFileInformationByHandle(file, &fileInfo) &&
                    fileInfo.dwVolumeSerialNumber == outputInfo.dwVolumeSerialNumber &&
                    fileInfo.nFileIndexHigh == outputInfo.nFileIndexHigh &&
                    fileInfo.nFileIndexLow == outputInfo.nFileIndexLow;
  ::CloseHandle(file);
  return same;
}

bool Exists(const std::string& path) {
  std::wstring wide;
  return ToSystemPath(path, wide) && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

bool SameBytes(HANDLE file, std::span<const std::string_view> pieces, std::size_t total) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::string buffer(std::min(total, kChunk), '\0');
  PieceCursor cursor(pieces);
  std::size_t left = total;
  while (left > 0) {
    const DWORD want = static_cast<DWORD>(std::min(left, buffer.size()));
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data(), want, &got, nullptr) || got == 0) return false;
    left -= got;
    if (!cursor.Matches(buffer.data(), got)) return false;
  }
  return true;
}

}  // namespace

bool RefreshIfIdentical(const std::string& path, std::span<const std::string_view> pieces) {
  std::size_t total = 0;
  for (const std::string_view piece : pieces) total += piece.size();
  std::wstring wide;
  if (!ToSystemPath(path, wide)) return false;
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused.
  const HANDLE file = ::CreateFileW(
      wide.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool same =
      ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) == total &&
      SameBytes(file, pieces, total);
  if (same) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    same = ::SetFileTime(file, nullptr, nullptr, &now) != 0;
  }
  ::CloseHandle(file);
  return same;
}

namespace {
constexpr std::size_t kLargeAllocation = std::size_t{2} << 20;
}  // namespace

void* AllocateLarge(std::size_t size) {
  if (size < kLargeAllocation) return std::calloc(size == 0 ? 1 : size, 1);
  // Committed memory from VirtualAlloc is zero-filled and taken from the
  // system only as it is touched.
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLarge(void* memory, std::size_t size) {
  if (memory == nullptr) return;
  if (size < kLargeAllocation) {
    std::free(memory);
    return;
  }
  ::VirtualFree(memory, 0, MEM_RELEASE);
}

// ---- The console --------------------------------------------------------

namespace {

// What the exit handler and the console control handler need to put the
// console back as they found it. The control handler runs on a thread of
// its own; the wait's fields are set before the input mode is changed and
// cleared only after it was restored.
UINT gSavedOutputCodePage = 0;
HANDLE volatile gWaitInput = INVALID_HANDLE_VALUE;
DWORD volatile gSavedInputMode = 0;

void RestoreOutputCodePage() {
  if (gSavedOutputCodePage != 0) ::SetConsoleOutputCP(gSavedOutputCodePage);
}

// Ctrl+C, Ctrl+Break, closing the window or logging off end the process by
// default; no temporary file may stay behind, and the console it shared with
// its parent must not stay changed.
BOOL WINAPI CleanUpOnControl(DWORD) {
  RemoveActiveTemp();
  if (gWaitInput != INVALID_HANDLE_VALUE) ::SetConsoleMode(gWaitInput, gSavedInputMode);
  RestoreOutputCodePage();
  return FALSE;  // go on with the default handling
}

// Keys that only change what another key means: alone they do not end the
// wait.
bool IsModifierKey(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_CONTROL:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_MENU:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

// Reads the console's input until a key that is more than a modifier goes
// down.
void ReadOneKey(HANDLE input) {
  for (bool done = false; !done;) {
    INPUT_RECORD records[16];
    DWORD count = 0;
    if (!::ReadConsoleInputW(input, records, 16, &count) || count == 0) break;
    for (DWORD i = 0; i < count && !done; ++i) {
      if (records[i].EventType != KEY_EVENT) continue;  // mouse, focus, resizing
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      if (!key.bKeyDown) continue;
      done = key.uChar.UnicodeChar != 0 || !IsModifierKey(key.wVirtualKeyCode);
    }
  }
}

// Writes text to the console's own screen, never to standard output, which
// may go to a file. Nothing more can be done for a console that refuses it.
void WriteToConsole(HANDLE output, const std::wstring& text) {
  DWORD written = 0;
  if (output != INVALID_HANDLE_VALUE) {
    (void)::WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

}  // namespace

void WaitForKey(std::string_view prompt) {
  // A process started without a console (a service, a CI runner, a
  // detached child) has nobody at a keyboard; neither has one whose console
  // has no window at all.
  if (::GetConsoleWindow() == nullptr) return;
  // The console's own input buffer, never standard input, so a redirected
  // standard input does not end the wait.
  const HANDLE input =
      ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (!::GetConsoleMode(input, &mode)) {
    ::CloseHandle(input);
    return;
  }
  // Keys typed before the wait began are not the answer to it.
  ::FlushConsoleInputBuffer(input);
  gSavedInputMode = mode;
  gWaitInput = input;
  // Without processed input, Ctrl+C arrives as a key like any other and
  // ends the wait, as it does on a POSIX terminal, instead of killing the
  // process.
  ::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                     ENABLE_ECHO_INPUT));
  // The prompt is wiped after the key with a carriage return, spaces and a
  // carriage return, so that the window holds what it held before.
  std::wstring text;
  const HANDLE output =
      prompt.empty() || !Utf8ToWide(prompt, text)
          ? INVALID_HANDLE_VALUE
          : ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  WriteToConsole(output, text);
  ReadOneKey(input);
  WriteToConsole(output, L"\r" + std::wstring(text.size(), L' ') + L"\r");
  if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
  // Whatever else is queued (the second half of a surrogate pair, keys
  // pressed together) must not reach the program that reads the console
  // next; a release still to come is ignored by any reader of characters.
  ::FlushConsoleInputBuffer(input);
  ::SetConsoleMode(input, mode);
  gWaitInput = INVALID_HANDLE_VALUE;
  ::CloseHandle(input);
}

bool HasOwnConsoleWindow() {
  if (::GetConsoleWindow() == nullptr) return false;
  // A console opened for this program alone lists this one process; one
  // shared with the shell that started it lists the shell too.
  DWORD processes[2];
  return ::GetConsoleProcessList(processes, 2) == 1;
}

std::vector<std::string> CommandLineArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    std::string argument;
    // An argument that is not valid UTF-16 comes out with U+FFFD in its
    // place, and then names no file.
    (void)WideToUtf8(wide[i], argument);
    arguments.push_back(std::move(argument));
  }
  ::LocalFree(wide);
  return arguments;
}

void InitProcess() {
  // Messages are UTF-8 bytes, file names included; the console shows them
  // as such only with its output code page set to UTF-8. The user's own
  // code page comes back when the program ends.
  const UINT codePage = ::GetConsoleOutputCP();
  if (codePage != 0 && codePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
    gSavedOutputCodePage = codePage;
    std::atexit(RestoreOutputCodePage);
  }
  ::SetConsoleCtrlHandler(CleanUpOnControl, TRUE);
  // Standard output and standard error carry exactly the bytes they do on
  // POSIX: every message ends in "\n" alone, not "\r\n", whether it goes to
  // the console (which starts a new line for it all the same) or to a file
  // or pipe.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace dbcpack::platform
