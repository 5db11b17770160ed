// Floats or ints, by a column's own values and by the run it stands in.
// Real records are built of arrays: 3 coordinates, 6 bounds, 16 points of
// a curve, slots of references. A column whose own values do not settle
// its type (one value, a filler, a few values that read both ways, a
// narrow range that a time stamp has too) takes the type of the run of
// columns around it, and the guess says so where the two disagree or no
// run is there to lean on.
#pragma once

#include <cstdint>
#include <vector>

#include "guess/column_evidence.h"
#include "guess/guess_doubt.h"
#include "table/field_type.h"

namespace dbcpack {

// Types every four-byte column of `fields` (zero-based, in field order,
// with `evidence` for each) that `types` does not already hold as a
// string. `types` holds every field of the record: a string or a one-byte
// field is no part of a run.
void TypeFloatsAndInts(const std::vector<std::uint32_t>& fields,
                       const std::vector<ColumnEvidence>& evidence, std::vector<FieldType>& types,
                       std::vector<TypeDoubt>& doubts);

}  // namespace dbcpack
