// Writing a table as CSV text in exactly the dialect the loader reads, so
// that loading the text gives back the same values: the header of column
// types, then one line per record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/large_memory.h"
#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/table_image.h"

namespace dbcpack {

// Appends `table` as CSV text under `types` to `out`. What the dialect
// cannot carry is reported naming `name` (the DBC file) with its record and
// field, one-based: a NaN float is an error, after which the result is
// false and `out` incomplete; a string holding a backslash before n or r
// (read back as a line break) or a byte 26 (which ends a text file) is a
// warning, and the string is written as it is.
// REQUIRES: `types` fit the table, and every String field's offset lies
// inside the string block, its string ended by a NUL there.
bool WriteCsv(const TableImage& table, const std::vector<FieldType>& types, const std::string& name,
              platform::LargeString& out, MessageSink& sink);

// The text WriteCsv writes for a String field holding `value`, but in
// double quotes even when empty: for messages that show a value.
std::string QuotedCsvString(std::string_view value);

}  // namespace dbcpack
