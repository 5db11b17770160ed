// Judging what a type guess is unsure of, and saying it. A guess is unsure
// where the evidence does not single out its reading: another placement of
// the one-byte columns scores nearly as well, a column reads about as well
// as ints as it does as floats, or the string block is explained as well
// with another column holding a string.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "guess/byte_placement.h"
#include "table/field_type.h"

namespace dbcpack {

// One thing the guess is unsure of: the fields concerned (one-based), the
// other reading in words, and the types it gives them (zero-based fields).
struct TypeDoubt {
  std::vector<std::uint32_t> fields;
  std::string otherReading;
  std::vector<std::pair<std::uint32_t, FieldType>> instead;
};

// Whether another placement of the one-byte columns comes close enough that
// the guess should say so; if so, adds the doubt.
void JudgePlacement(const BytePlacement& placement, std::vector<TypeDoubt>& doubts);

// Field `field` (zero-based) was guessed `type` (Int or Float), and may be
// the other.
void AddFloatOrInt(std::uint32_t field, FieldType type, std::vector<TypeDoubt>& doubts);

// Field `field` (zero-based) was guessed a string, and each of `instead`
// could hold its string as well.
void AddStringSwap(std::uint32_t field, const std::vector<std::uint32_t>& instead,
                   std::vector<TypeDoubt>& doubts);

// Field `field` (zero-based) was guessed a string, and may be an int.
void AddStringOrInt(std::uint32_t field, std::vector<TypeDoubt>& doubts);

// Field `field` (zero-based) was guessed an int, and may be a string.
void AddIntOrString(std::uint32_t field, std::vector<TypeDoubt>& doubts);

// The doubts in one line of text, for a warning or a comment.
std::string DoubtText(const std::vector<TypeDoubt>& doubts);

}  // namespace dbcpack
