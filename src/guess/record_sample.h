// The records a type guess looks at closely: the first ones whole, so that
// a string first used there is seen where the table first uses it, and
// runs spread evenly over the rest, copied side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "table/table_image.h"

namespace dbcpack {

struct RecordSample {
  std::uint32_t rows = 0;
  std::size_t recordSize = 0;
  std::vector<char> bytes;    // rows x recordSize
  std::vector<char> follows;  // whether a row is the record after the one before it

  const char* Row(std::uint32_t row) const { return bytes.data() + row * recordSize; }
};

// At most `maxRecords` records and about 2 MiB, but always one record.
RecordSample TakeSample(const TableImage& table, std::uint32_t maxRecords);

}  // namespace dbcpack
