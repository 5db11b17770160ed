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
  // decimal) or a filler.
  bool anyValue = false;
  bool offsets = true;
  bool floats = true;
  // Over the distinct values of the sample but 0 and fillers (memory the
  // writing tool never set, in int and float columns alike): positive when
  // they read as floats, typed in (0.7, 2.5, 1500) or computed (58.939102),
  // negative when as ints that only look like floats (bit masks). One unit
  // a typed-in value or a mask, half a unit a computed one.
  double floatLean = 0;
  // The clear evidence either way: short decimals for, masks against.
  double floatFor = 0;
  double floatAgainst = 0;
  std::uint32_t weighed = 0;  // distinct values weighed
  bool plainDecimal = false;  // among them a short decimal that is no mask
  // Every value weighed is a large positive int within weeks of the
  // others: a time stamp, or a computed float of a narrow range. `low` and
  // `high` are the least and the greatest.
  bool stampLike = false;
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

// The widest spread of a column of time stamps, in seconds: about seven
// weeks.
inline constexpr std::uint32_t kStampSpread = 1u << 22;

// The evidence of the four-byte columns at `offsets` in a record, read in
// one pass over the records.
std::vector<ColumnEvidence> EvidenceOf(const TableImage& table, const RecordSample& sample,
                                       const std::vector<std::size_t>& offsets,
                                       const StringStarts& strings);

// The bits of a float that a table holds: a usual binary exponent (within
// +-40), a zero or the largest float, or outside that range a decimal of
// a few digits (1e-30, 2.5e12); or a filler.
bool PlausibleFloat(std::uint32_t bits);

// Significant digits of the shortest decimal that gives the float.
int ShortestDigits(std::uint32_t bits);

}  // namespace dbcpack
