// The key wait of the programs that take paths (dbcunpack, dbctidy); dbcpack
// waits in every terminal instead, as it always has.
#include "app/own_console.h"

#include "platform/platform.h"

namespace dbcpack {

void HoldOwnConsoleWindow(StreamSink& out) {
  if (platform::HasOwnConsoleWindow()) {
    out.Print("\nPress a key to close this window.\n");
    out.Flush();
    platform::WaitForKey();
  }
  out.Flush();
}

}  // namespace dbcpack
