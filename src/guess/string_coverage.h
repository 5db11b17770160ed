// Which columns hold string offsets, told by the string block itself.
// dbcpack, and every tool seen writing these files, stores each string
// once, in the order in which the records first use it, and no string that
// no record uses: so the string columns are those that, read record by
// record and field by field, meet the block's strings in exactly that
// order and meet them all. Columns whose values alone cannot tell (a
// column of 0 and one offset is also a column of flags or of a constant)
// are settled by whether the block needs them, and by where they stand: a
// block of 8 or 16 localised strings holds one filled locale and empty ones,
// one of which may hold a single string that another locale holds too, and
// the later slots of an array of paths may each hold one path that the
// first slot holds too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "guess/string_starts.h"
#include "table/table_image.h"

namespace dbcpack {

// A column whose every value is 0 or the start of a string.
struct StringCandidate {
  std::uint32_t field = 0;  // zero-based
  std::size_t offset = 0;   // in the record
};

struct StringChoice {
  std::vector<bool> isString;  // per candidate
  // Whether the chosen columns meet every string of the block once, in
  // order; when no choice does, the columns of more than one string are
  // the string columns.
  bool explainsBlock = false;
  // Candidates whose type the block leaves open, each with the candidates
  // that could hold its strings instead (none: it could be either).
  struct Doubt {
    std::size_t candidate;
    std::vector<std::size_t> instead;
  };
  std::vector<Doubt> doubts;
  // Candidates of one value taken for strings by where they stand alone.
  std::vector<std::size_t> lone;
  // Candidates of value 1 left ints that may be strings all the same.
  std::vector<std::size_t> maybeStrings;
};

// `strings` may reach past the block the header declares, into strings it
// under-states. `blank` tells, per field, whether it is a four-byte column
// of zeros only, which could be an empty string column: blocks of localised
// strings hold many.
StringChoice ChooseStringColumns(const TableImage& table, const StringStarts& strings,
                                 const std::vector<StringCandidate>& candidates,
                                 const std::vector<bool>& blank);

}  // namespace dbcpack
