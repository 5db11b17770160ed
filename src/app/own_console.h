// The end of a run in a console window opened for the program alone, as
// Windows opens one for files dropped onto it: the window would close with
// the program, so it waits for a key first.
#pragma once

#include "table/message_sink.h"

namespace dbcpack {

// When the process has a console window of its own, says so on `out` and
// waits for a key; otherwise (a shell, a script, POSIX) returns at once.
// Flushes `out` either way.
void HoldOwnConsoleWindow(StreamSink& out);

}  // namespace dbcpack
