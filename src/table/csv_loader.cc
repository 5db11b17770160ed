// Loading one CSV table: the header of column types, then one record per
// line. The file is read whole into one buffer; lines and fields are views
// into it, and values go straight into the table's per-record arrays.
#include <cstring>
#include <limits>
#include <vector>

#include "platform/platform.h"
#include "table/dbc_table.h"
#include "table/field_reader.h"
#include "table/field_type.h"
#include "table/number_parse.h"
#include "table/number_scan.h"
#include "table/string_pool.h"

namespace dbcpack {
namespace {

constexpr std::int64_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();
constexpr char kEndOfFile = 26;  // Ctrl-Z: ends a text file

// Where one column's values live: its type and its position among the keys
// of the array that holds it.
struct Column {
  FieldType type;
  std::size_t slot;
};

// Cuts the next line off `text`. A carriage return right before the line
// feed is not part of the line; any other carriage return is.
inline std::string_view NextLine(std::string_view& text) {
  const char* const begin = text.data();
  const void* lf = std::memchr(begin, '\n', text.size());
  if (lf == nullptr) {
    const std::string_view line = text;
    text = std::string_view();
    return line;
  }
  std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
  text.remove_prefix(length + 1);
  if (length > 0 && begin[length - 1] == '\r') --length;
  return std::string_view(begin, length);
}

// Drops the rest of a numeric field from `line`, from `stop` (inside the
// field) through its comma, as NextToken would: a comma that is the last
// byte of the line stays, as one more, empty, field.
inline void SkipPastComma(std::string_view& line, const char* stop) {
  const char* const end = line.data() + line.size();
  const char* comma = stop;
  if (comma == end || *comma != ',') {
    comma = static_cast<const char*>(std::memchr(stop, ',', static_cast<std::size_t>(end - stop)));
    if (comma == nullptr) {
      line = std::string_view();
      return;
    }
  }
  const std::size_t p = static_cast<std::size_t>(comma - line.data());
  line.remove_prefix(p + 1 < line.size() ? p + 1 : p);
}

// Number of lines in the data after the header: every line feed ends one,
// and text after the last line feed is one more.
std::size_t CountLines(std::string_view text) {
  std::size_t lines = 0;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (lf == nullptr) return lines + 1;
    ++lines;
    p = static_cast<const char*>(lf) + 1;
  }
  return lines;
}

}  // namespace

bool DbcTable::LoadCsv(const std::string& path, MessageSink& sink) {
  fileName = path;
  platform::FileContents content;
  if (!platform::ReadWholeFile(path, content)) {
    sink.Print("ERROR: Can't open file '%s'.\n", fileName.c_str());
    return false;
  }
  sink.Print("Loading file '%s'.\n", fileName.c_str());
  const bool parsed = ParseCsv(content.View(), sink);
  // A file cut short by another program while it was read is a failed
  // read, not a table; any error found in what was left is not the file's.
  if (!content.Intact()) {
    sink.Print("ERROR: Can't open file '%s'.\n", fileName.c_str());
    return false;
  }
  if (!parsed) return false;
  sink.Print("CSV file loaded '%s'.\n", fileName.c_str());
  return true;
}

bool DbcTable::LoadCsvContent(std::string_view content, MessageSink& sink) {
  if (!ParseCsv(content, sink)) return false;
  sink.Print("CSV file loaded '%s'.\n", fileName.c_str());
  return true;
}

bool DbcTable::ParseCsv(std::string_view content, MessageSink& sink) {
  const char* name = fileName.c_str();
  if (const void* eof = std::memchr(content.data(), kEndOfFile, content.size())) {
    content =
        content.substr(0, static_cast<std::size_t>(static_cast<const char*>(eof) - content.data()));
  }

  std::string_view rest = content;
  std::string_view header = NextLine(rest);
  if (header.size() < 3) {
    sink.Print("ERROR: '%s': First line must contain field types (int,float,byte,string).\n", name);
    return false;
  }

  std::vector<FieldType> fieldTypes;
  std::int64_t size = 0;
  std::string_view token;
  while (NextToken(header, token)) {
    FieldType type;
    int width = 4;
    if (token == "string") {
      type = FieldType::String;
    } else if (token == "float") {
      type = FieldType::Float;
    } else if (token == "byte") {
      type = FieldType::Byte;
      width = 1;
    } else if (token == "int") {
      type = FieldType::Int;
    } else {
      if (token.empty()) {
        sink.Print("ERROR: '%s': Name of field '%i' is empty.\n", name, fieldCount + 1);
      } else {
        const std::string entry(token);
        sink.Print("ERROR: '%s': Unknown field type '%s'.\n", name, entry.c_str());
      }
      return false;
    }
    if (size + width > kMaxInt32) {
      sink.Print("ERROR: '%s': Table too large for a DBC file.\n", name);
      return false;
    }
    size += width;
    recordSize = static_cast<std::int32_t>(size);
    fieldTypes.push_back(type);
    ++fieldCount;
  }
  if (static_cast<std::size_t>(fieldCount) != fieldTypes.size()) {
    sink.Print("ERROR: '%s': WTF This should never happen.\n", name);
    return false;
  }

  const std::size_t lines = CountLines(rest);
  // The last record is reported as line lines + 1, which must fit too.
  if (lines > static_cast<std::size_t>(kMaxInt32 - 1)) {
    sink.Print("ERROR: '%s': Table too large for a DBC file.\n", name);
    return false;
  }
  recordCount = static_cast<std::int32_t>(lines);
  if (recordCount == 0) {
    sink.Print("ERROR: '%s': No records found.\n", name);
    return false;
  }

  std::vector<std::int32_t> intKeys, floatKeys, byteKeys;
  std::vector<Column> columns;
  columns.reserve(fieldTypes.size());
  bool hasStrings = false;
  for (std::size_t k = 0; k < fieldTypes.size(); ++k) {
    const FieldType type = fieldTypes[k];
    std::vector<std::int32_t>& keys = type == FieldType::Float  ? floatKeys
                                      : type == FieldType::Byte ? byteKeys
                                                                : intKeys;
    columns.push_back(Column{type, keys.size()});
    keys.push_back(static_cast<std::int32_t>(k));
    hasStrings = hasStrings || type == FieldType::String;
  }
  // Every field but the last takes at least one byte of its line, so a line
  // shorter than fieldCount - 1 bytes cannot load. When the data is too
  // short for every line to be that long, the load fails at the first such
  // line or before it, and values are needed only up to there: allocating
  // for every line would let a small malformed file (many columns, many
  // empty lines) ask for more memory than there is.
  std::size_t allocated = lines;
  const std::size_t minimum = fieldTypes.size() - 1;
  if (minimum > 0 && lines > rest.size() / minimum) {
    std::string_view scan = rest;
    allocated = 0;
    while (allocated < lines && NextLine(scan).size() >= minimum) ++allocated;
    if (allocated < lines) ++allocated;
  }
  intValues.Allocate(allocated, std::move(intKeys));
  floatValues.Allocate(allocated, std::move(floatKeys));
  byteValues.Allocate(allocated, std::move(byteKeys));

  // The block can never outgrow the text it comes from; reserving that much
  // address space up front avoids copying the block as it grows, and pages
  // never written are never touched.
  if (hasStrings) stringBlock.reserve(content.size() + 1);
  StringPool pool(stringBlock);
  std::string scratch;  // unescaped string values, reused

  const Column* const firstColumn = columns.data();
  const Column* const lastColumn = firstColumn + columns.size() - 1;
  for (std::size_t r = 0; r < lines; ++r) {
    std::string_view line = NextLine(rest);
    ++lineNumber;
    fieldIndex = 0;
    std::int32_t* const ints = intValues.Record(r);
    float* const floats = floatValues.Record(r);
    std::uint8_t* const bytes = byteValues.Record(r);

    for (const Column* column = firstColumn;; ++column) {
      if (column->type == FieldType::String) {
        if (line.empty() && column != lastColumn) {
          sink.Print("ERROR: '%s': Expected '%i' fields not '%i' at line '%i'.\n", name, fieldCount,
                     fieldIndex + 1, lineNumber);
          return false;
        }
        std::string_view text;
        if (!ReadQuotedField(*this, line, scratch, text, sink)) return false;
        std::int64_t offset = 0;
        if (!text.empty()) {
          offset = pool.Intern(text);
          if (offset < 0) {
            sink.Print("ERROR: '%s': Table too large for a DBC file.\n", name);
            return false;
          }
        }
        ints[column->slot] = static_cast<std::int32_t>(offset);
      } else {
        if (line.empty()) {
          sink.Print("ERROR: '%s': Expected '%i' fields not '%i' at line '%i'.\n", name, fieldCount,
                     fieldIndex, lineNumber);
          return false;
        }
        // The number is converted straight from the line: the conversion
        // stops before the comma that ends the field, and the rest of the
        // field up to that comma is ignored, as it would be in the token.
        const char* const first = line.data();
        const char* const last = first + line.size();
        if (*first == ',') {
          sink.Print("ERROR: '%s': Empty int/float/byte field '%i' at line '%i'.\n", name,
                     fieldIndex + 1, lineNumber);
          return false;
        }
        const char* stop;
        switch (column->type) {
          case FieldType::Float: {
            stop = ParseFloatPrefix(first, last, floats[column->slot]);
            break;
          }
          case FieldType::Byte: {
            std::int32_t number;
            stop = ParseIntPrefix(first, last, number);
            bytes[column->slot] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(number));
            break;
          }
          default:
            stop = ParseIntPrefix(first, last, ints[column->slot]);
            break;
        }
        SkipPastComma(line, stop);
      }
      if (column == lastColumn) {
        if (!line.empty()) {
          sink.Print(
              "WARNING: '%s': Contains more fields than expected at line '%i'. (ignoring).\n", name,
              lineNumber);
        }
        break;
      }
      ++fieldIndex;
    }
  }

  stringBlockSize = static_cast<std::int32_t>(stringBlock.size());
  return true;
}

}  // namespace dbcpack
