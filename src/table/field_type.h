// The column types a CSV header can declare. The values are fixed (there is
// no 3) and never leave memory.
#pragma once

#include <cstdint>

namespace dbcpack {

enum class FieldType : std::int32_t {
  String = 0,  // "string": 4-byte offset into the string block
  Float = 1,   // "float": 4-byte IEEE-754 single
  Byte = 2,    // "byte": 1 byte
  Int = 4,     // "int": 4-byte signed
};

}  // namespace dbcpack
