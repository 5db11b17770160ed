// The bytes of a DBC file for a table: a 20-byte little-endian header
// ("WDBC", record count, field count, record size, string block size), the
// records packed back to back, then the string block. Encoding is kept apart
// from writing, so that the bytes can be compared with a file as well as
// written to one.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "table/table_image.h"

namespace dbcpack {

inline constexpr std::size_t kDbcHeaderSize = 20;

// A DBC file as three pieces. The header is encoded here; the records and
// the string block are the table's own bytes, which the loader already
// encoded in their final form, so nothing is copied.
struct EncodedDbc {
  std::array<char, kDbcHeaderSize> header{};
  std::string_view records;
  std::string_view stringBlock;

  // The pieces in file order; views into this object and the table.
  std::array<std::string_view, 3> Pieces() const {
    return {std::string_view(header.data(), header.size()), records, stringBlock};
  }
  std::size_t Size() const { return header.size() + records.size() + stringBlock.size(); }
};

// REQUIRES: `table` stays alive and unchanged while the result is used.
EncodedDbc EncodeDbc(const TableImage& table);

}  // namespace dbcpack
