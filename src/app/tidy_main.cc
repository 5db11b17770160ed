// dbctidy: rewrites the CSV tables named on the command line (or found in
// the folders named), as a spreadsheet saved them, in place into the
// dialect dbcpack reads. Dropped onto the program on Windows, it keeps its
// console window open until a key is pressed; from a shell it never waits.
#include <cstdio>

#include "app/own_console.h"
#include "app/tidy.h"
#include "platform/platform.h"
#include "table/message_sink.h"

int main(int argc, char** argv) {
  dbcpack::platform::InitProcess();
  dbcpack::StreamSink out(stdout);
  dbcpack::StreamSink errors(stderr);
  const int status =
      dbcpack::RunTidy(dbcpack::platform::CommandLineArguments(argc, argv), out, errors);
  dbcpack::HoldOwnConsoleWindow(out);
  return status;
}
