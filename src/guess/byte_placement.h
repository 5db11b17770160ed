// Where the one-byte columns of a record lie. The record size tells how
// many there are, not where: every placement covers the same bytes, so each
// is scored by how few bits it takes to describe a sample of the records
// read that way (a four-byte window that mixes the bytes of two fields
// reads as noise), with a small cost for what real tables seldom do (a
// one-byte column first, or one-byte columns scattered rather than in
// runs). The best placement and the best other one are kept, so that a
// close call can be told.
#pragma once

#include <cstdint>
#include <vector>

#include "guess/string_starts.h"
#include "table/table_image.h"

namespace dbcpack {

struct BytePlacement {
  std::vector<bool> isByte;  // per field: whether it is a one-byte column
  // The best other placement whose fields read other values (a one-byte
  // field beside a field of zeros can swap widths with it and read the
  // same); empty when there is none.
  std::vector<bool> runnerUp;
  // How many more bits the runner-up takes, in all and per sampled record.
  double margin = 0;
  double marginPerRow = 0;
};

// Places `bytes` one-byte columns among the table's fields. Returns false
// when the placements are too many to search.
bool PlaceByteColumns(const TableImage& table, std::uint32_t bytes, const StringStarts& strings,
                      BytePlacement& placement);

}  // namespace dbcpack
