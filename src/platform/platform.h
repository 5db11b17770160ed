// The operating-system seam: every file, directory and terminal call the
// converter makes goes through these few functions, so the logic above them
// stays portable and testable. posix/ implements them for Linux and other
// POSIX systems; windows/ for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dbcpack::platform {

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
  friend bool ReadWholeFile(const std::string& path, FileContents& contents);
  void Unmap();

  std::string buffer_;
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  std::string_view view_;
};

// Reads the whole of a regular file. Refuses, without blocking, anything
// that is not a regular file once opened (FIFOs, sockets, devices,
// directories, dangling links). Returns false on any failure to open or to
// read; a short read is never taken for the end of the file.
bool ReadWholeFile(const std::string& path, FileContents& contents);

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

 private:
  void* handle_ = nullptr;
  DirectoryId id_;
  std::string path_;
  std::string name_;
};

// A new file written beside its final name and moved over it only once
// every byte has reached the file, so that a failure never leaves a
// half-written output and never harms what stood there before. A symbolic
// link at the final name is replaced, not written through.
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

 private:
  void Discard();

  intptr_t handle_ = -1;
  std::string finalPath_;
  std::string tempPath_;
};

// Waits for one key press on the terminal itself, never on standard input,
// without echo and without Enter; consumes the whole sequence an arrow or
// function key sends and restores the terminal on every path. Returns at
// once when the process has no terminal.
void WaitForKey();

// Process-wide setup done once at start (for example, turning a file size
// limit into a write error rather than a killing signal).
void InitProcess();

}  // namespace dbcpack::platform
