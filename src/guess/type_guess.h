// Guessing the column types of a DBC file, which does not store them: the
// record size tells how many columns are one byte wide, the values where
// they lie, the string block which columns hold its strings, and the
// values of each other column, or the run of columns it stands in, whether
// it holds floats or ints. What the evidence does not settle is kept as
// doubts, so that the user learns which columns to check, with the other
// reading to switch to.
#pragma once

#include <string>
#include <vector>

#include "guess/guess_doubt.h"
#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/table_image.h"

namespace dbcpack {

struct TypeGuess {
  std::vector<FieldType> types;
  std::vector<TypeDoubt> doubts;  // empty when the evidence settles every column
  // The types with every doubt taken the other way (with another placement
  // of the one-byte columns, that placement read as a whole); empty when
  // there is no doubt or it was not asked for.
  std::vector<FieldType> otherReading;
};

// Whether to read the table the other way where the guess is unsure:
// another placement of the one-byte columns takes a second look at every
// record.
enum class OtherReading { Skip, Read };

// Guesses the type of every column of `table`. Returns false, after an
// error naming `name` that says how many 1-byte columns the records must
// hold and asks for the types to be given, when those columns cannot be
// placed (too many placements to search).
// REQUIRES: `table` came from a successful ReadDbc.
bool GuessFieldTypes(const TableImage& table, TypeGuess& guess, const std::string& name,
                     MessageSink& sink, OtherReading other = OtherReading::Skip);

}  // namespace dbcpack
