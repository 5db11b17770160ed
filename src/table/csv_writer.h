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

// Writes `table` as CSV text under `types` into `pieces`, which follow one
// another, each ending at the end of a line: large tables are written by
// two threads, a piece each. A NaN float cannot
// be written: the error names `name` (the DBC file), the record and the
// field, one-based, and the result is false with `out` incomplete. Two
// things in a string cannot be written either, and are written as they are
// with one warning per column after the rows (how many records, the
// first): a backslash right before a line break (read back as a backslash
// and the letter) and a byte 26 (which ends a text file).
// REQUIRES: `types` fit the table, and every String field's offset lies
// inside the string block, its string ended by a NUL there.
bool WriteCsv(const TableImage& table, const std::vector<FieldType>& types, const std::string& name,
              std::vector<platform::LargeString>& pieces, MessageSink& sink);

// The same text appended to `out` in one piece.
bool WriteCsv(const TableImage& table, const std::vector<FieldType>& types, const std::string& name,
              platform::LargeString& out, MessageSink& sink);

// The text WriteCsv writes for a String field holding `value`, but in
// double quotes even when empty: for messages that show a value.
std::string QuotedCsvString(std::string_view value);

}  // namespace dbcpack
