// Guessing the column types of a DBC file, which does not store them: the
// record size tells how many columns are one byte wide, and the values of
// each four-byte column tell a string offset from a float from an int.
#pragma once

#include <string>
#include <vector>

#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/table_image.h"

namespace dbcpack {

// Sets `types` to the guessed type of every column of `table`. Returns
// false, after an error naming `name` that says how many 1-byte columns the
// records must hold and asks for the types to be given, when those columns
// cannot be found.
// REQUIRES: `table` came from a successful ReadDbc.
bool GuessFieldTypes(const TableImage& table, std::vector<FieldType>& types,
                     const std::string& name, MessageSink& sink);

}  // namespace dbcpack
