// Runs the built dbcpack, dbcunpack and dbctidy binaries in a directory, the way a
// user would but without a terminal: in a new session (so they cannot reach
// one and never wait for a key), standard input from /dev/null, standard
// output captured.
#pragma once

#include <string>
#include <vector>

namespace dbcpack::testing {

struct RunResult {
  std::string output;     // everything written to standard output
  std::string errors;     // everything written to standard error
  int exitStatus = -1;    // the exit status, or -1 if it did not exit normally
  bool timedOut = false;  // killed after the time limit
};

// Paths of the binaries under test.
const char* DbcpackBinary();
const char* DbcunpackBinary();
const char* DbctidyBinary();

// Resource limits, identity and surroundings for the child; 0 leaves a
// limit as it is.
struct RunLimits {
  // RLIMIT_FSIZE in bytes: a write past it fails (or raises SIGXFSZ, unless
  // the program ignores it).
  long long fileSize = 0;
  // The soft RLIMIT_NOFILE; the hard limit stays, so the program may raise it.
  long long openFiles = 0;
  // When not negative, the child drops to this user and group id (as root
  // only), so that permissions apply to it.
  int userId = -1;
  // When set, standard output goes to this file instead of being captured,
  // opened as the shell's '>' (or '>>', with appendOutput) opens it.
  const char* outputFile = nullptr;
  bool appendOutput = false;
  // Preloads the library that cuts files named "cut-short" short while
  // they are read and fails the listings of folders named
  // "failing-listing".
  bool injectFaults = false;
};

RunResult RunDbcpack(const std::string& directory, int timeoutSeconds = 60,
                     const RunLimits& limits = {});

// dbcunpack with `arguments` (argv[0] left out), in `directory`.
RunResult RunDbcunpack(const std::string& directory, const std::vector<std::string>& arguments,
                       int timeoutSeconds = 60, const RunLimits& limits = {});

// dbctidy with `arguments` (argv[0] left out), in `directory`.
RunResult RunDbctidy(const std::string& directory, const std::vector<std::string>& arguments);

}  // namespace dbcpack::testing
