// Scratch directories and byte builders for the tests (POSIX hosts and the
// Windows build alike, through the standard library's filesystem).
#include "test_util.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace dbcpack::testing {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const fs::path candidate =
        base / ("dbcpack-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  // Make everything writable again so that a test that took permissions
  // away still cleans up.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

void WriteFile(const std::string& path, std::string_view contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

std::string ListNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename().generic_string());
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) joined += ' ';
    joined += name;
  }
  return joined;
}

DbcBytes& DbcBytes::Header(std::uint32_t records, std::uint32_t fields, std::uint32_t recordSize,
                           std::uint32_t blockSize) {
  Raw("WDBC");
  Int(static_cast<std::int32_t>(records));
  Int(static_cast<std::int32_t>(fields));
  Int(static_cast<std::int32_t>(recordSize));
  Int(static_cast<std::int32_t>(blockSize));
  return *this;
}

DbcBytes& DbcBytes::Int(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) {
    bytes_.push_back(static_cast<char>((bits >> shift) & 0xFF));
  }
  return *this;
}

DbcBytes& DbcBytes::Float(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return Int(static_cast<std::int32_t>(bits));
}

DbcBytes& DbcBytes::Byte(std::uint8_t value) {
  bytes_.push_back(static_cast<char>(value));
  return *this;
}

DbcBytes& DbcBytes::Raw(std::string_view bytes) {
  bytes_.append(bytes);
  return *this;
}

std::string ConvertedMessages(const std::string& path) {
  return "Loading file '" + path + "'.\nCSV file loaded '" + path + "'.\nDBC file created '" +
         path + ".dbc'.\n";
}

std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127 && byte != '\\') {
      text.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      text += escaped;
    }
  }
  return text;
}

#ifndef _WIN32
int UnprivilegedUser() { return ::geteuid() == 0 ? 65534 : -1; }

bool BecomeUser(int id) {
  const auto user = static_cast<uid_t>(id);
  return ::setgroups(0, nullptr) == 0 && ::setgid(user) == 0 && ::setuid(user) == 0;
}

std::optional<std::string> RunInChild(const std::function<std::string()>& body, int userId) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(fds[0]);
    if (userId >= 0 && !BecomeUser(userId)) ::_exit(127);
    const std::string text = body();
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) ::_exit(126);
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return text;
}
#endif

}  // namespace dbcpack::testing
