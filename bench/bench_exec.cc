// dbcpack_bench_exec: runs one command the way bench/run.sh measures it.
//
//   dbcpack_bench_exec [--cwd DIR] [--out FILE] [--timeout S] -- PROGRAM ARGS...
//
// The child runs in a new session (so it has no controlling terminal and
// dbcpack's closing key wait ends at once), in DIR, with standard input from
// /dev/null and standard output and error to FILE (default /dev/null).
// Prints one line: "<wall seconds> <peak RSS KiB> <exit status> <CPU seconds>",
// where the wall time runs from just before fork to the child's reaping
// (monotonic clock), and the peak RSS and the CPU time (user + system) are
// the child's ru_maxrss and ru_utime + ru_stime from wait4. Exits 0 when
// the child exited 0, 1 otherwise, 124 on timeout (the child's process group
// is killed), 2 on usage or system errors.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

volatile sig_atomic_t g_timed_out = 0;

void OnAlarm(int) { g_timed_out = 1; }

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int Usage() {
  std::fprintf(stderr,
               "usage: dbcpack_bench_exec [--cwd DIR] [--out FILE] [--timeout S] -- PROGRAM "
               "ARGS...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* cwd = nullptr;
  const char* out = "/dev/null";
  unsigned timeout = 0;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return Usage();
    if (a == "--cwd") {
      cwd = argv[++i];
    } else if (a == "--out") {
      out = argv[++i];
    } else if (a == "--timeout") {
      timeout = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      return Usage();
    }
  }
  if (i >= argc) return Usage();
  char** child_argv = argv + i;

  struct sigaction sa {};
  sa.sa_handler = OnAlarm;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: wait4 returns EINTR on the alarm
  sigaction(SIGALRM, &sa, nullptr);

  const double start = Now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("dbcpack_bench_exec: fork");
    return 2;
  }
  if (pid == 0) {
    if (setsid() < 0) _exit(126);
    if (cwd && chdir(cwd) != 0) {
      std::perror("dbcpack_bench_exec: chdir");
      _exit(126);
    }
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0) {
      std::perror("dbcpack_bench_exec: open");
      _exit(126);
    }
    dup2(in, 0);
    dup2(o, 1);
    dup2(o, 2);
    close(in);
    close(o);
    execvp(child_argv[0], child_argv);
    std::perror("dbcpack_bench_exec: exec");
    _exit(127);
  }
  if (timeout) alarm(timeout);

  int status = 0;
  rusage ru{};
  bool killed = false;
  for (;;) {
    const pid_t r = wait4(pid, &status, 0, &ru);
    if (r == pid) break;
    if (r < 0 && errno == EINTR) {
      if (g_timed_out && !killed) {
        kill(-pid, SIGKILL);  // the child leads its own process group
        killed = true;
      }
      continue;
    }
    std::perror("dbcpack_bench_exec: wait4");
    return 2;
  }
  const double elapsed = Now() - start;
  alarm(0);

  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  std::printf("%.6f %ld %d %.6f\n", elapsed, static_cast<long>(ru.ru_maxrss), code, cpu);
  if (killed) return 124;
  return code == 0 ? 0 : 1;
}
