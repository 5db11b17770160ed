// The key wait of the programs that take paths (dbcunpack, dbctidy); dbcpack
// waits in every terminal instead, as it always has.
#include "app/own_console.h"

#include "platform/platform.h"

namespace dbcpack {

void HoldOwnConsoleWindow(StreamSink& out) {
  out.Flush();
  // The prompt stands on the console alone, as dbcpack's does, so standard
  // output holds the same bytes whether or not the program waits.
  if (platform::HasOwnConsoleWindow()) platform::WaitForKey("Press a key to close this window.");
}

}  // namespace dbcpack
