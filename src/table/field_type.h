// The column types a CSV header can declare, and the reading of such a list
// of types. The enumeration's values are fixed (there is no 3) and never
// leave memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbcpack {

enum class FieldType : std::int32_t {
  String = 0,  // "string": 4-byte offset into the string block
  Float = 1,   // "float": 4-byte IEEE-754 single
  Byte = 2,    // "byte": 1 byte
  Int = 4,     // "int": 4-byte signed
};

// Bytes the type takes in a record.
constexpr int FieldTypeWidth(FieldType type) { return type == FieldType::Byte ? 1 : 4; }

// The type's keyword in a header line: "string", "float", "byte" or "int".
const char* FieldTypeKeyword(FieldType type);

// Why a list of types was refused.
struct TypeListError {
  enum class Kind { None, EmptyName, UnknownType, TooLarge };
  Kind kind = Kind::None;
  std::int32_t position = 0;  // one-based position of the entry concerned
  std::string_view entry;     // that entry, a view into the line
};

// Reads the types of a header line: keywords separated by commas, each
// exactly one of the four, in lower case and without spaces; a comma at the
// end is one more, empty, entry. Appends them to `types` (which must be
// empty) and stops at the first entry that is not a keyword, or when the
// record would pass INT32_MAX bytes. Returns false and fills `error` then.
bool ParseTypeList(std::string_view line, std::vector<FieldType>& types, TypeListError& error);

// The types as a header line writes them: their keywords separated by
// commas, the list ParseTypeList reads.
std::string TypeListText(const std::vector<FieldType>& types);

// The sum of the types' widths.
std::int64_t RecordSizeOf(const std::vector<FieldType>& types);

}  // namespace dbcpack
