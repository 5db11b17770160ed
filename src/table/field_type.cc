// Keywords of the column types and the reading of a header's list of them.
#include "table/field_type.h"

#include <limits>

#include "table/field_reader.h"

namespace dbcpack {

const char* FieldTypeKeyword(FieldType type) {
  switch (type) {
    case FieldType::String:
      return "string";
    case FieldType::Float:
      return "float";
    case FieldType::Byte:
      return "byte";
    case FieldType::Int:
      return "int";
  }
  return "int";
}

bool ParseTypeList(std::string_view line, std::vector<FieldType>& types, TypeListError& error) {
  constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();
  std::int64_t size = 0;
  std::string_view token;
  // Compared exactly and in this order, so that nothing else is a keyword.
  while (NextToken(line, token)) {
    FieldType type;
    if (token == "string") {
      type = FieldType::String;
    } else if (token == "float") {
      type = FieldType::Float;
    } else if (token == "byte") {
      type = FieldType::Byte;
    } else if (token == "int") {
      type = FieldType::Int;
    } else {
      error.kind =
          token.empty() ? TypeListError::Kind::EmptyName : TypeListError::Kind::UnknownType;
      error.position = static_cast<std::int32_t>(types.size()) + 1;
      error.entry = token;
      return false;
    }
    size += FieldTypeWidth(type);
    if (size > kMaxSize) {
      error.kind = TypeListError::Kind::TooLarge;
      error.position = static_cast<std::int32_t>(types.size()) + 1;
      error.entry = token;
      return false;
    }
    types.push_back(type);
  }
  return true;
}

std::string TypeListText(const std::vector<FieldType>& types) {
  std::string text;
  for (const FieldType type : types) {
    if (!text.empty()) text.push_back(',');
    text.append(FieldTypeKeyword(type));
  }
  return text;
}

std::int64_t RecordSizeOf(const std::vector<FieldType>& types) {
  std::int64_t size = 0;
  for (const FieldType type : types) size += FieldTypeWidth(type);
  return size;
}

}  // namespace dbcpack
