// A table as a DBC file lays it out: its counts, its records back to back
// and its string block. It is a view and owns nothing: the loader's table,
// the encoder and the reader of DBC files all speak it, so that each of them
// sees the same bytes.
#pragma once

#include <cstdint>
#include <string_view>

namespace dbcpack {

struct TableImage {
  std::uint32_t recordCount = 0;
  std::uint32_t fieldCount = 0;
  std::uint32_t recordSize = 0;
  // recordCount x recordSize bytes: every field little-endian at its place.
  std::string_view records;
  // NUL-terminated strings; a string field holds an offset into it.
  std::string_view stringBlock;
  // Read from a file: the file's bytes right after the string block, which
  // may still hold strings the records point at when the header gives the
  // block too short a size. Empty otherwise.
  std::string_view stringTail;

  std::string_view Record(std::uint32_t record) const {
    return records.substr(static_cast<std::size_t>(record) * recordSize, recordSize);
  }
};

}  // namespace dbcpack
