// Generated tables that look like the DBC tables people unpack: an id
// first, references, enums, flags and masks, runs of mostly-zero floats,
// names, paths and blocks of locale strings, now and then a run of one-byte
// columns; arrays of every type (positions, bounds and curves of computed
// floats, slots of references and of paths); the int columns that read
// like floats (a filler pattern, time stamps, masks with a high bit) and
// the filler in float columns too. The yardstick of the type guess.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table/field_type.h"

namespace dbcpack::testing {

struct GeneratedTable {
  std::string csv;               // the header of types, then the records
  std::vector<FieldType> types;  // the true types
  // Whether a column's type can be told from its values at all: a string
  // column of empty strings only, or a float column of zeros only, cannot.
  std::vector<bool> told;
  std::vector<std::string> kinds;  // what each column holds, for figures
};

// The same tables, in the same order, for the same seed on every host.
class TableGenerator {
 public:
  explicit TableGenerator(std::uint64_t seed) : state_(seed) {}
  GeneratedTable Next();

  // splitmix64, and draws made from it with exact arithmetic only, one draw
  // at a time: the operands of an expression and the arguments of a call
  // are evaluated in an order each compiler picks.
  std::uint64_t Bits();
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Bits() % n); }
  double Uniform() { return static_cast<double>(Bits() >> 11) / 9007199254740992.0; }
  bool Chance(double p) { return Uniform() < p; }
  // Roughly log-uniform in [low, high]: many small values, some large.
  std::uint32_t Scale(std::uint32_t low, std::uint32_t high);

 private:
  std::uint64_t state_;
};

}  // namespace dbcpack::testing
