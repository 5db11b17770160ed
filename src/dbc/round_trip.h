// The proof that a DBC file unpacked to CSV text packs back to the same
// bytes: the text is loaded with the CSV loader, the table encoded with the
// DBC encoder, and the result compared with the original file byte for
// byte.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "table/field_type.h"
#include "table/table_image.h"

namespace dbcpack {

struct RoundTrip {
  bool exact = false;
  // When not exact, the first difference, for a message: a header count, a
  // record and field with both values, the string block's layout alone, or
  // why the loader refused the text.
  std::string difference;
};

// Packs `csv` as dbcpack would and compares the bytes with `dbcFile`, the
// whole original file. `original` (ReadDbc's view of that file) and `types`
// name the first difference.
RoundTrip CheckRoundTrip(std::string_view csv, std::string_view dbcFile, const TableImage& original,
                         const std::vector<FieldType>& types);
// The same for text in pieces that follow one another, each but the last
// ending in a line feed.
RoundTrip CheckRoundTrip(std::span<const std::string_view> csv, std::string_view dbcFile,
                         const TableImage& original, const std::vector<FieldType>& types);

}  // namespace dbcpack
