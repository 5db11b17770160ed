// The POSIX side of the platform seam: whole-file reads, mapped or not, and
// what they refuse.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "test_util.h"

namespace dbcpack::platform {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
  return bytes;
}

TEST(ReadWholeFileTest, ReturnsEveryByteReadOrMapped) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{4096},
                                 std::size_t{256 * 1024}, std::size_t{3 * 1024 * 1024 + 5}}) {
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string bytes = Pattern(size);
    WriteFile(dir / "t.csv", bytes);
    FileContents contents;
    ASSERT_EQ(ReadWholeFile(dir / "t.csv", contents), ReadResult::Read);
    EXPECT_TRUE(contents.View() == bytes);
    EXPECT_TRUE(contents.Intact());
  }
}

// Refused with a reason that can end a message: the system's words, or
// ours where the refusal is ours.
TEST(ReadWholeFileTest, RefusesWhatIsNotARegularFileAndSaysWhy) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.csv").c_str(), 0644), 0);
  std::filesystem::create_directory(dir / "dir.csv");
  std::filesystem::create_symlink(dir / "missing", dir / "dangling.csv");
  const struct {
    const char* name;
    std::string reason;
  } cases[] = {
      {"fifo.csv", "Not a regular file"},
      {"dir.csv", std::strerror(EISDIR)},
      {"dangling.csv", std::strerror(ENOENT)},
      {"absent.csv", std::strerror(ENOENT)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileContents contents;
    std::string reason;
    EXPECT_EQ(ReadWholeFile(dir / c.name, contents, &reason), ReadResult::CannotOpen);
    EXPECT_EQ(reason, c.reason);
  }
}

TEST(ReplacementFileTest, InterruptedRunLeavesNoTemporaryFile) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    TempDir dir;
    testing::WriteFile(dir / "t.csv.dbc", "earlier");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      InitProcess();
      ReplacementFile file;
      if (!file.Create(dir / "t.csv.dbc") || !file.Write("new", 3)) ::_exit(1);
      ::raise(signal);
      ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(testing::ListNames(dir.Path()), "t.csv.dbc");
    EXPECT_EQ(testing::ReadFile(dir / "t.csv.dbc"), "earlier");
  }
}

}  // namespace
}  // namespace dbcpack::platform
