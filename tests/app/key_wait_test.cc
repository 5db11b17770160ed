// The key wait at the end of a run, driven through a pseudo-terminal: the
// program must wait for one key on its terminal, say so on that terminal
// alone, consume the whole key, and leave the terminal as it found it,
// whatever ends the wait.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/run_dbcpack.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct PtyOptions {
  bool stdinFromNull = false;
  // When not empty, standard output goes to this file, not to the terminal.
  std::string stdoutPath;
};

// dbcpack started in a scratch directory with a pseudo-terminal as its
// controlling terminal; the test keeps the terminal's slave side open too,
// to inspect its settings and anything left unread on it.
class PtyRun {
 public:
  explicit PtyRun(const std::string& dir, const PtyOptions& options = {}) {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    ::tcgetattr(slave_, &before_);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setsid();
      ::ioctl(slave_, TIOCSCTTY, 0);
      ::dup2(slave_, 0);
      ::dup2(slave_, 1);
      ::dup2(slave_, 2);
      if (options.stdinFromNull) ::dup2(::open("/dev/null", O_RDONLY), 0);
      if (!options.stdoutPath.empty()) {
        ::dup2(::open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      }
      ::close(master_);
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      ::execl(testing::DbcpackBinary(), "dbcpack", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  ~PtyRun() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }

  bool Started() const { return pid_ > 0; }

  // Reads the terminal's output until `text` appears or time runs out.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (output_.find(text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Whether the program ended within `limit`; its wait status in `status`.
  bool Exited(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    do {
      if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        exited_ = true;
        return true;
      }
      std::this_thread::sleep_for(10ms);
    } while (Clock::now() < deadline);
    return false;
  }

  // Everything the terminal has shown so far.
  const std::string& Output() const { return output_; }
  int Status() const { return status_; }
  pid_t Pid() const { return pid_; }

  void ExpectSettingsRestored() const {
    termios after{};
    ASSERT_EQ(::tcgetattr(slave_, &after), 0);
    EXPECT_EQ(after.c_lflag, before_.c_lflag);
    EXPECT_EQ(after.c_iflag, before_.c_iflag);
    EXPECT_EQ(after.c_oflag, before_.c_oflag);
    EXPECT_EQ(after.c_cc[VMIN], before_.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before_.c_cc[VTIME]);
  }

  // Bytes typed but never read by the program: they would reach the shell.
  std::string Unread() const {
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(slave_, TCSANOW, &raw);
    char buffer[64];
    const ssize_t n = ::read(slave_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
  termios before_{};
  std::string output_;
};

const char kBannerEnd[] = "built ";
const std::string kPrompt = "Press any key to exit.";
// A carriage return, spaces over the prompt, a carriage return.
const std::string kWipe = "\r" + std::string(kPrompt.size(), ' ') + "\r";

TEST(KeyWaitTest, KeysEndTheWaitAndAreConsumedWhole) {
  struct Case {
    const char* name;
    std::string keys;
  } cases[] = {
      {"letter", "x"},
      {"arrow key", "\x1b[A"},
      {"function key", "\x1b[15~"},
      {"ctrl-c", "\x03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    PtyRun run(dir.Path());
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(kBannerEnd));
    EXPECT_FALSE(run.Exited(300ms)) << "ended without a key";
    run.Type(c.keys);
    ASSERT_TRUE(run.Exited(5s)) << "still waiting after the key";
    ASSERT_TRUE(WIFEXITED(run.Status()));
    EXPECT_EQ(WEXITSTATUS(run.Status()), 0);
    run.ExpectSettingsRestored();
    EXPECT_EQ(testing::Printable(run.Unread()), "");
  }
}

TEST(KeyWaitTest, RedirectedStandardInputDoesNotEndTheWait) {
  testing::TempDir dir;
  PtyRun run(dir.Path(), {.stdinFromNull = true, .stdoutPath = {}});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.WaitForOutput(kBannerEnd));
  EXPECT_FALSE(run.Exited(300ms));
  run.Type("k");
  EXPECT_TRUE(run.Exited(5s));
  run.ExpectSettingsRestored();
}

// `dbcpack > log.txt` at a terminal: the terminal shows the prompt while
// the program waits and nothing of it after the key; the log holds exactly
// what a run without a terminal prints.
TEST(KeyWaitTest, PromptStandsOnTheTerminalAloneAndOnlyWhileItWaits) {
  testing::TempDir dir, logs;
  const testing::RunResult plain = testing::RunDbcpack(dir.Path(), 20);
  PtyRun run(dir.Path(), {.stdinFromNull = false, .stdoutPath = logs / "log.txt"});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.WaitForOutput(kPrompt));
  EXPECT_FALSE(run.Exited(300ms)) << "ended without a key";
  EXPECT_EQ(testing::Printable(run.Output()), testing::Printable(kPrompt));
  run.Type("x");
  ASSERT_TRUE(run.Exited(5s)) << "still waiting after the key";
  EXPECT_TRUE(run.WaitForOutput(kPrompt + kWipe, 2s));
  EXPECT_EQ(testing::Printable(run.Output()), testing::Printable(kPrompt + kWipe));
  EXPECT_EQ(testing::Printable(testing::ReadFile(logs / "log.txt")),
            testing::Printable(plain.output));
  run.ExpectSettingsRestored();
}

TEST(KeyWaitTest, TerminalIsRestoredWhenASignalEndsTheWait) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    testing::TempDir dir;
    PtyRun run(dir.Path());
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitForOutput(kPrompt));
    std::this_thread::sleep_for(100ms);
    ::kill(run.Pid(), signal);
    ASSERT_TRUE(run.Exited(5s));
    EXPECT_TRUE(WIFSIGNALED(run.Status()));
    run.ExpectSettingsRestored();
    EXPECT_TRUE(run.WaitForOutput(kPrompt + kWipe, 2s)) << "the prompt was left on the screen";
  }
}

TEST(KeyWaitTest, NoTerminalMeansNoWait) {
  testing::TempDir dir;
  const auto start = Clock::now();
  const auto run = testing::RunDbcpack(dir.Path(), 20);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace dbcpack
