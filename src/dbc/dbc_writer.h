// Writes a loaded table as a DBC file beside its CSV source.
#pragma once

#include <string>

#include "table/dbc_table.h"
#include "table/message_sink.h"

namespace dbcpack {

// Writes `table` to `csvPath` + ".dbc" and prints "DBC file created". The
// file is built beside the output and moved over it only when complete, so
// a failure prints an error naming the CSV path and leaves any earlier
// output untouched. An output that already holds exactly these bytes (a
// regular file, not a link) is left as it is, only made to look freshly
// written. Returns whether the file was created.
// REQUIRES: table was loaded successfully.
bool WriteDbc(const DbcTable& table, const std::string& csvPath, MessageSink& sink);

}  // namespace dbcpack
