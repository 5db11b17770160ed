// Helpers shared by the tests: scratch directories, whole-file I/O and a
// builder for expected DBC bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dbcpack::testing {

// A fresh directory under the system's temporary folder, removed with all
// its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, std::string_view contents);
// The whole file, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Names in `dir`, sorted, "." and ".." left out.
std::string ListNames(const std::string& dir);

// Expected DBC bytes, built field by field in little-endian order.
class DbcBytes {
 public:
  DbcBytes& Header(std::uint32_t records, std::uint32_t fields, std::uint32_t recordSize,
                   std::uint32_t blockSize);
  DbcBytes& Int(std::int32_t value);
  DbcBytes& Float(float value);
  DbcBytes& Byte(std::uint8_t value);
  DbcBytes& Raw(std::string_view bytes);
  const std::string& Str() const { return bytes_; }

 private:
  std::string bytes_;
};

// A small valid table, and the three progress lines its conversion prints.
inline constexpr char kGoodTable[] = "int,string\n1,\"a\"\n";
std::string ConvertedMessages(const std::string& path);

// Printable form of bytes for failure messages: escapes what is not ASCII.
std::string Printable(std::string_view bytes);

#ifndef _WIN32
// Root ignores permission bits, so a test of a file or folder closed to the
// program runs the program as "nobody" (65534) when the tests run as root,
// as CI does: the user id to drop to, or -1 when permissions apply already.
int UnprivilegedUser();
// Makes a forked child user and group `id`, with no other groups.
bool BecomeUser(int id);
// Runs `body` in a forked child, as user `userId` when that is not -1, and
// returns what it returned; nothing when the child did not finish (it
// crashed, was killed, or could not become that user).
std::optional<std::string> RunInChild(const std::function<std::string()>& body, int userId = -1);
#endif

}  // namespace dbcpack::testing
