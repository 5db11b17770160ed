// Child-process runner for the end-to-end tests.
#include "app/run_dbcpack.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "test_util.h"

namespace dbcpack::testing {

const char* DbcpackBinary() { return DBCPACK_BINARY; }
const char* DbcunpackBinary() { return DBCUNPACK_BINARY; }
const char* DbctidyBinary() { return DBCTIDY_BINARY; }

namespace {

RunResult RunProgram(const char* binary, const std::vector<std::string>& arguments,
                     const std::string& directory, int timeoutSeconds, const RunLimits& limits) {
  RunResult result;
  // Built before the fork: the child only calls what is safe there.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Opened here, so that a child that drops its privileges starts the
  // binary even where the user it became cannot reach the build folder.
  const int program = ::open(binary, O_RDONLY | O_CLOEXEC);
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  if (limits.injectFaults)
    environment.push_back(std::string("LD_PRELOAD=") + DBCPACK_FAULT_PRELOAD);
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const int outputFlags = O_WRONLY | O_CREAT | (limits.appendOutput ? O_APPEND : O_TRUNC);
  int out[2], err[2];
  if (program < 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return result;
  const pid_t child = ::fork();
  if (child < 0) return result;
  if (child == 0) {
    ::setsid();  // no controlling terminal: /dev/tty cannot be opened
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    if (::chdir(directory.c_str()) != 0) ::_exit(127);
    if (limits.outputFile != nullptr) {
      const int file = ::open(limits.outputFile, outputFlags, 0644);
      if (file < 0 || ::dup2(file, 1) < 0) ::_exit(127);
    }
    if (limits.fileSize > 0) {
      const auto bytes = static_cast<rlim_t>(limits.fileSize);
      const struct rlimit limit = {bytes, bytes};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
    }
    if (limits.openFiles > 0) {
      struct rlimit limit;
      if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(127);
      limit.rlim_cur = static_cast<rlim_t>(limits.openFiles);
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(127);
    }
    if (limits.userId >= 0 && !BecomeUser(limits.userId)) ::_exit(127);
    ::fexecve(program, argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(program);
  ::close(out[1]);
  ::close(err[1]);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.errors};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(child, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}

}  // namespace

RunResult RunDbcpack(const std::string& directory, int timeoutSeconds, const RunLimits& limits) {
  return RunProgram(DBCPACK_BINARY, {}, directory, timeoutSeconds, limits);
}

RunResult RunDbcunpack(const std::string& directory, const std::vector<std::string>& arguments,
                       int timeoutSeconds, const RunLimits& limits) {
  return RunProgram(DBCUNPACK_BINARY, arguments, directory, timeoutSeconds, limits);
}

RunResult RunDbctidy(const std::string& directory, const std::vector<std::string>& arguments) {
  return RunProgram(DBCTIDY_BINARY, arguments, directory, 60, {});
}

}  // namespace dbcpack::testing
