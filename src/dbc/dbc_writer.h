// Writes a loaded table as a DBC file: a 20-byte little-endian header
// ("WDBC", record count, field count, record size, string block size), the
// records packed back to back, then the string block.
#pragma once

#include <string>

#include "table/dbc_table.h"
#include "table/message_sink.h"

namespace dbcpack {

// Writes `table` to `csvPath` + ".dbc" and prints "DBC file created". The
// file is built beside the output and moved over it only when complete, so
// a failure prints an error naming the CSV path and leaves any earlier
// output untouched. Returns whether the file was created.
// REQUIRES: table was loaded successfully.
bool WriteDbc(const DbcTable& table, const std::string& csvPath, MessageSink& sink);

}  // namespace dbcpack
