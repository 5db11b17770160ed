// dbcunpack: turns the DBC files named on the command line (or found in the
// folders named) back into CSV tables beside them. Dropped onto the program
// on Windows, it runs in a console window of its own, and then waits for a
// key at the end so that its messages can be read; from a shell it never
// waits.
#include <cstdio>

#include "app/own_console.h"
#include "app/unpack.h"
#include "platform/platform.h"
#include "table/message_sink.h"

int main(int argc, char** argv) {
  dbcpack::platform::InitProcess();
  dbcpack::StreamSink out(stdout);
  dbcpack::StreamSink errors(stderr);
  const int status =
      dbcpack::RunUnpack(dbcpack::platform::CommandLineArguments(argc, argv), out, errors);
  dbcpack::HoldOwnConsoleWindow(out);
  return status;
}
