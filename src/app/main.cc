// dbcpack: converts every CSV table below the working directory to a DBC
// file beside it, then waits for a key so a console window opened just for
// it stays readable. The prompt for that key goes to the terminal alone, so
// standard output holds the same bytes whether or not anyone waits on it.
// Arguments are ignored; the exit status is always 0.
#include <cstdio>

#include "app/batch.h"
#include "platform/platform.h"
#include "table/message_sink.h"

int main() {
  dbcpack::platform::InitProcess();
  dbcpack::StreamSink out(stdout);
  dbcpack::RunBatch(out);
  out.Flush();
  dbcpack::platform::WaitForKey("Press any key to exit.");
  return 0;
}
