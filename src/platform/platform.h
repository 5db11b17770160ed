// The operating-system seam: every file, directory and terminal call the
// converter makes goes through these few functions, so the logic above them
// stays portable and testable. posix/ implements them for Linux and other
// POSIX systems; windows/ for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbcpack::platform {

// Every failure below that comes from the system can say why, in the
// system's own words ("Permission denied", "Access is denied"): strerror on
// POSIX, FormatMessage on Windows, without a final full stop, so that a
// message can end with it. Where the refusal is this code's own (a FIFO
// given as a file), the words are ours. A `reason` pointer may be null when
// the caller has no use for it.

class FileContents;

// The system's words for a C library error number (errno), as a failed
// write to a C stream such as standard output leaves it.
std::string ErrorNumberText(int error);

// Whether standard output goes to the very file at `path`, as after a
// redirection into a file the program is about to read. False whenever it
// cannot tell.
bool IsStandardOutput(const std::string& path);

// Reads the whole of a regular file. Refuses, without blocking, anything
// that is not a regular file once opened (FIFOs, sockets, devices,
// directories, dangling links): CannotOpen, as for a file that cannot be
// opened at all. CannotRead when a read fails after the open (an I/O error,
// a file whose contents the system will not give); a short read is never
// taken for the end of the file.
enum class ReadResult { Read, CannotOpen, CannotRead };
ReadResult ReadWholeFile(const std::string& path, FileContents& contents,
                         std::string* reason = nullptr);

// The bytes of a whole file: read into memory, or mapped where the system
// can, which spares copying and clearing hundreds of megabytes.
class FileContents {
 public:
  FileContents() = default;
  FileContents(const FileContents&) = delete;
  FileContents& operator=(const FileContents&) = delete;
  ~FileContents();

  std::string_view View() const { return view_; }

  // False when the file shrank under the mapping while it was being read,
  // so that part of what View() showed was not the file's; true for read
  // contents, which cannot change.
  bool Intact() const;

  // Holds `bytes`, read into memory by the caller.
  void Assign(std::string bytes);

 private:
  friend ReadResult ReadWholeFile(const std::string& path, FileContents& contents,
                                  std::string* reason);
  void Unmap();

  std::string buffer_;
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  std::string_view view_;
};

enum class EntryKind { File, Directory, Device };

struct DirectoryEntry {
  std::string_view name;
  EntryKind kind;
};

// Identity of an opened directory (device and inode on POSIX), used by the
// walk to refuse entering a directory that is already on its current path.
struct DirectoryId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const DirectoryId&, const DirectoryId&) = default;
};

// An open directory listing. Entries come in the order the system returns
// them, "." and ".." included. Symbolic links are reported as files, never
// as directories, so a walk never follows one. An entry whose kind the
// listing does not tell is classified without following links.
class DirectoryListing {
 public:
  DirectoryListing() = default;
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;
  ~DirectoryListing();

  // REQUIRES: not open yet. Returns false if `path` cannot be listed.
  bool Open(const std::string& path);
  DirectoryId Id() const { return id_; }
  // Returns false at the end of the listing or on a read error.
  bool Next(DirectoryEntry& entry);
  // Why Open failed, or why Next stopped before the end of the listing;
  // empty when nothing failed.
  const std::string& Failure() const { return failure_; }

 private:
  void* handle_ = nullptr;
  DirectoryId id_;
  std::string path_;
  std::string name_;
  std::string failure_;
};

// What a path names, following symbolic links: missing (or unreachable), a
// regular file, a directory, or something else (a device, FIFO or socket).
// For Missing, `reason` says why nothing could be reached there.
enum class PathKind { Missing, File, Directory, Other };
PathKind KindOf(const std::string& path, std::string* reason = nullptr);

// Whether anything at all stands at `path`, a dangling link included.
bool Exists(const std::string& path);

// When `path` is a regular file (not a link, not anything else) holding
// exactly the concatenation of `pieces`, sets its modification time to now
// and returns true, leaving its contents alone. False in every other case,
// and whenever the file could not be compared or touched.
bool RefreshIfIdentical(const std::string& path, std::span<const std::string_view> pieces);

// Memory for the big buffers of a table (records, string block, hash
// tables), zero-filled. Where the system offers it, large blocks are backed
// by huge pages: a buffer of hundreds of megabytes then costs a few hundred
// page faults instead of tens of thousands. Returns null when out of memory.
void* AllocateLarge(std::size_t size);
void FreeLarge(void* memory, std::size_t size);

// A new file written beside its final name and moved over it only once
// every byte has reached the file, so that a failure never leaves a
// half-written output and never harms what stood there before. A symbolic
// link at the final name is replaced, not written through.
//
// What is guaranteed: a run that fails or is interrupted (a write error, a
// full disk, a signal, the process killed) leaves the earlier output as it
// was, or the complete new one, and no temporary file but after a kill. A
// power loss or system crash is another matter: on POSIX the new file is
// not flushed to the disk before the rename (that would cost a disk wait per
// table), so what survives then is up to the file system: ext4 in its
// default mode writes the data of a file renamed over another before the
// rename itself, others may keep an empty or partial new file. On Windows
// the file is flushed before it is moved.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Removes the temporary file unless Commit succeeded.
  ~ReplacementFile();

  // Creates the temporary file in the directory of `finalPath`.
  bool Create(const std::string& finalPath);
  bool Write(const char* data, std::size_t size);
  // Flushes and closes the temporary file. False if any byte may be lost.
  bool Close();
  // Moves the closed temporary file over the final name.
  bool Commit();
  // Moves the closed temporary file to the final name only if nothing
  // stands there, atomically where the file system allows it. Sets
  // `existed` when that is why it failed.
  bool CommitWithoutReplacing(bool& existed);
  // Why the last call that failed did (empty for `existed`).
  const std::string& Failure() const { return failure_; }

 private:
  void Discard();

  intptr_t handle_ = -1;
  std::string finalPath_;
  std::string tempPath_;
  std::string failure_;
};

enum class WriteResult { Written, CannotCreate, CannotWrite, Exists };

// Writes the concatenation of `pieces` as the file `path` through a
// ReplacementFile: CannotCreate when the temporary file cannot be made or
// moved into place, CannotWrite when a byte of it may be lost, Exists when
// `replace` is false and something stands at `path`. Nothing at `path`
// changes unless the result is Written. `reason` says why for CannotCreate
// and CannotWrite.
WriteResult WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces,
                                bool replace, std::string* reason = nullptr);

// Waits for one key press on the terminal itself, never on standard input,
// without echo and without Enter; consumes the whole sequence an arrow or
// function key sends and restores the terminal on every path. Returns at
// once when the process has no terminal. While it waits, `prompt` (one
// line, without a line break) stands on that terminal, never on standard
// output; it is wiped after the key, so the screen holds what it held
// before.
void WaitForKey(std::string_view prompt = {});

// True when the process has a console window of its own, opened for it
// alone (a program started by double-clicking it or dropping files on it on
// Windows): the only case in which it should wait for a key at the end so
// that its messages can be read. Never true on POSIX.
bool HasOwnConsoleWindow();

// The program's arguments as UTF-8 byte strings, argv[0] left out. On
// Windows they are read in UTF-16 from the system, whatever the code page.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Process-wide setup done once at start (for example, turning a file size
// limit into a write error rather than a killing signal).
void InitProcess();

}  // namespace dbcpack::platform
