// Field cutting for the CSV dialect. Both readers shorten the line view in
// place; neither allocates beyond what `out` already holds.
#include "table/field_reader.h"

#include <cstring>

namespace dbcpack {

bool NextToken(std::string_view& line, std::string_view& token) {
  if (line.empty()) return false;
  const void* comma = std::memchr(line.data(), ',', line.size());
  if (comma == nullptr) {
    token = line;
    line = std::string_view();
    return true;
  }
  const std::size_t p = static_cast<std::size_t>(static_cast<const char*>(comma) - line.data());
  token = line.substr(0, p);
  // A comma that ends the line is left in place: it opens one more, empty,
  // field for the next read.
  line.remove_prefix(p + 1 < line.size() ? p + 1 : p);
  return true;
}

bool ReadQuotedString(const DbcTable& table, std::string_view& line, std::string& out,
                      MessageSink& sink) {
  if (line.empty()) return true;
  if (line.front() == ',') {
    line.remove_prefix(1);
    return true;
  }
  if (line.front() != '"') {
    sink.Print("ERROR: '%s': Broken string format '%c' at line '%i'.\n", table.fileName.c_str(),
               line.front(), table.lineNumber);
    sink.Print(
        "If is an empty string leave field empty, if is not empty put the text between \".\n");
    return false;
  }

  const char* const begin = line.data();
  const std::size_t length = line.size();
  std::size_t i = 1;
  while (i < length) {
    // Copy the plain run up to the next quote or backslash in one go.
    const char* run = begin + i;
    const std::size_t left = length - i;
    const char* quote = static_cast<const char*>(std::memchr(run, '"', left));
    const std::size_t scan = quote ? static_cast<std::size_t>(quote - run) : left;
    const char* backslash = static_cast<const char*>(std::memchr(run, '\\', scan));
    const char* stop = backslash ? backslash : quote;
    if (stop == nullptr) {
      out.append(run, left);
      break;
    }
    out.append(run, static_cast<std::size_t>(stop - run));
    i = static_cast<std::size_t>(stop - begin);
    const char next = i + 1 < length ? begin[i + 1] : '\0';
    if (*stop == '\\') {
      if (next == 'n') {
        out.push_back('\n');
        i += 2;
      } else if (next == 'r') {
        out.push_back('\r');
        i += 2;
      } else {
        out.push_back('\\');
        i += 1;
      }
      continue;
    }
    if (next == '"') {
      out.push_back('"');
      i += 2;
      continue;
    }
    if (next != ',' && i + 1 < length) {
      sink.Print("ERROR: '%s': Unexpected end of string in field '%i' at line '%i'.\n",
                 table.fileName.c_str(), table.fieldIndex, table.lineNumber);
      return false;
    }
    // The closing quote. A comma that ends the line stays, as one more,
    // empty, field.
    line.remove_prefix(i + 2 < length ? i + 2 : i + 1);
    return true;
  }
  sink.Print("ERROR: '%s': Missing \" in the end of string in field '%i' at line '%i'.\n",
             table.fileName.c_str(), table.fieldIndex, table.lineNumber);
  return false;
}

bool ReadQuotedField(const DbcTable& table, std::string_view& line, std::string& scratch,
                     std::string_view& value, MessageSink& sink) {
  value = std::string_view();
  if (line.size() > 1 && line.front() == '"') {
    const char* const begin = line.data();
    const std::size_t length = line.size();
    const char* const body = begin + 1;
    const char* quote = static_cast<const char*>(std::memchr(body, '"', length - 1));
    if (quote != nullptr) {
      const std::size_t i = static_cast<std::size_t>(quote - begin);
      const char next = i + 1 < length ? begin[i + 1] : '\0';
      const std::size_t size = static_cast<std::size_t>(quote - body);
      if (next != '"' && (next == ',' || i + 1 == length) &&
          std::memchr(body, '\\', size) == nullptr) {
        value = std::string_view(body, size);
        line.remove_prefix(i + 2 < length ? i + 2 : i + 1);
        return true;
      }
    }
  }
  // Escapes, doubled quotes, empty fields and errors: the general reader.
  scratch.clear();
  if (!ReadQuotedString(table, line, scratch, sink)) return false;
  value = scratch;
  return true;
}

}  // namespace dbcpack
