// What the values of one four-byte column say of its type, apart from the
// string block: whether they can be string offsets, whether they can be
// floats, and which of float and int they read as more naturally.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "guess/record_sample.h"
#include "guess/string_starts.h"
#include "table/table_image.h"

namespace dbcpack {

struct ColumnEvidence {
  // Over every record: whether any value is not 0, whether every value is
  // 0 or a string start, and whether every value is a float a table holds
  // (no NaN, which CSV text cannot carry, and a usual magnitude or a short
  // decimal).
  bool anyValue = false;
  bool offsets = true;
  bool floats = true;
  // Over the distinct values of the sample: positive when they read as
  // typed-in floats (0.7, 2.5, 1500), negative when as ints that only look
  // like floats (bit masks, a filler such as 0xCCCCCCCC); about 0 when
  // neither (a computed float and a time stamp alike). One unit a value.
  double floatLean = 0;
  // The clear evidence either way (short decimals for, masks and fillers
  // against), and the share of values that are neither.
  double floatFor = 0;
  double floatAgainst = 0;
  double noiseShare = 0;
  double negativeNoiseShare = 0;  // of those, negative: floats, as ints so large are rare
};

// The evidence of the four-byte columns at `offsets` in a record, read in
// one pass over the records.
std::vector<ColumnEvidence> EvidenceOf(const TableImage& table, const RecordSample& sample,
                                       const std::vector<std::size_t>& offsets,
                                       const StringStarts& strings);

// The bits of a float that a table holds: a usual binary exponent (within
// +-40), a zero or the largest float, or outside that range a short
// decimal (1e-30, 2.5e12).
bool PlausibleFloat(std::uint32_t bits);

// Significant digits of the shortest decimal that gives the float.
int ShortestDigits(std::uint32_t bits);

}  // namespace dbcpack
