// Reading a DBC file back. Such files come from anywhere (truncated
// downloads, other tools and other versions of the format, hand-made
// files), so every count and every offset is checked against the file's own
// size before a byte of it is trusted; a file that fails is one clear error
// naming the file, never a read outside it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/table_image.h"

namespace dbcpack {

// Checks the header of the DBC file whose whole content is `bytes` and
// sets `table` to views into `bytes`: the counts, the records and the
// string block. On a file that cannot be read as a table (not a DBC file,
// shorter than its header, no fields, a record size below the field count
// or above four bytes per field, counts that do not fit the file, a string
// block that does not start with a NUL) prints one error naming `name` and
// returns false. Where the file's values are still unambiguous (bytes after
// the string block, a string block size that disagrees with where its
// strings lie) prints a warning and goes on; nothing is guessed silently.
bool ReadDbc(std::string_view bytes, const std::string& name, TableImage& table, MessageSink& sink);

// Whether `types` fit the table: as many fields as it has and the same
// record size. Prints an error giving both counts and returns false if not.
bool CheckTypesFit(const TableImage& table, const std::vector<FieldType>& types,
                   const std::string& name, MessageSink& sink);

// Checks every String field of `table`: each offset must lie inside the
// string block and its string end with a NUL before the block ends. Prints
// one error naming the record and field (one-based) of the first that does
// not, and returns false.
// REQUIRES: CheckTypesFit(table, types).
bool CheckStringFields(const TableImage& table, const std::vector<FieldType>& types,
                       const std::string& name, MessageSink& sink);

}  // namespace dbcpack
