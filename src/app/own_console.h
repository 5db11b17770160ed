// The end of a run in a console window opened for the program alone, as
// Windows opens one for files dropped onto it: the window would close with
// the program, so it waits for a key first.
#pragma once

#include "table/message_sink.h"

namespace dbcpack {

// Flushes `out`; then, when the process has a console window of its own,
// waits for a key with a prompt on that console (never on `out`);
// otherwise (a shell, a script, POSIX) returns at once.
void HoldOwnConsoleWindow(StreamSink& out);

}  // namespace dbcpack
