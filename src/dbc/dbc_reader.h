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
// string block. On a file that cannot be read as a table prints one error
// naming `name` and returns false, leaving `table` as it was: not a DBC
// file (the magic), shorter than its header, no fields, a record size below
// the field count, above four bytes per field or not made of fields of one
// and four bytes, counts that do not fit the file (computed in 64 bits, so
// no count overflows), a string block that does not start with a NUL (a
// size of 0 included). No records is a table.
//
// The block ends where the header says, with one exception, read with a
// warning: a block whose last byte is not a NUL, in a file that holds a NUL
// after it. The header's size then cuts the block inside its last string,
// and the block is read through that first NUL, so that the string ends
// where a reader of NUL-terminated strings ends it (a block that would pass
// 2^32 - 1 bytes stays as declared). The bytes after the block are kept as
// `stringTail`, for SettleStringBlock to judge once the types are known.
// A block that ends without a NUL at the end of the file stays as it is:
// its unended tail matters only to a string field pointing into it, which
// CheckStringFields refuses. Whether the strings lie in the order dbcpack
// writes them is left to the round trip.
bool ReadDbc(std::string_view bytes, const std::string& name, TableImage& table, MessageSink& sink);

// The string block and, behind it, the bytes of `table.stringTail` through
// their last NUL: every string the file holds, where a string offset may
// point even when the header under-states the block. For judging whether
// a column holds string offsets before the types are settled.
std::string_view FileStringArea(const TableImage& table);

// Where the string block ends, once the types are known. When String
// fields point past the block, each of them at a string start in the tail
// (right behind a NUL, its string ended by a NUL), the header under-states
// the block: it is read through the NUL that ends the furthest of those
// strings, with a warning giving both sizes. Bytes left after the block are
// then left out, with a warning. Sets `stringTail` to those bytes.
// REQUIRES: CheckTypesFit(table, types).
void SettleStringBlock(TableImage& table, const std::vector<FieldType>& types,
                       const std::string& name, MessageSink& sink);

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
