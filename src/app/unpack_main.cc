// dbcunpack: turns the DBC files named on the command line (or found in the
// folders named) back into CSV tables beside them. Dropped onto the program
// on Windows, it runs in a console window of its own, and then waits for a
// key at the end so that its messages can be read; from a shell it never
// waits.
#include <cstdio>

#include "app/unpack.h"
#include "platform/platform.h"
#include "table/message_sink.h"

int main(int argc, char** argv) {
  dbcpack::platform::InitProcess();
  dbcpack::StreamSink out(stdout);
  dbcpack::StreamSink errors(stderr);
  const int status =
      dbcpack::RunUnpack(dbcpack::platform::CommandLineArguments(argc, argv), out, errors);
  out.Flush();
  // The prompt stands on the console alone, as dbcpack's does, so standard
  // output holds the same bytes whether or not the program waits.
  if (dbcpack::platform::HasOwnConsoleWindow()) {
    dbcpack::platform::WaitForKey("Press a key to close this window.");
  }
  return status;
}
