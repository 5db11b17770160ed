// A slow, plain second reading of the CSV dialect for the fuzz targets: one
// byte at a time, one step per rule, no shortcuts and none of the
// converter's code. The targets run it beside the real loader and field
// reader and require the same results, messages and output bytes, so a
// fast path that drifts from the rules shows up as a mismatch.
#pragma once

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace dbcpack::fuzz {

// printf-style formatting into a string, NUL bytes from %c included.
inline void AppendFormat(std::string& out, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

inline void AppendFormat(std::string& out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    out.append(text.data(), static_cast<std::size_t>(length));
  }
  va_end(again);
}

struct RefContext {
  std::string fileName;
  std::int32_t lineNumber = 1;
  std::int32_t fieldIndex = 0;
};

inline bool RefNextToken(std::string& line, std::string& token) {
  if (line.empty()) return false;
  const std::size_t p = line.find(',');
  if (p == std::string::npos) {
    token = line;
    line.clear();
    return true;
  }
  token = line.substr(0, p);
  if (p + 1 < line.size()) {
    line.erase(0, p + 1);
  } else {
    line.erase(0, p);
  }
  return true;
}

inline bool RefReadQuotedString(const RefContext& context, std::string& line, std::string& out,
                                std::string& messages) {
  if (line.empty()) return true;
  if (line[0] == ',') {
    line.erase(0, 1);
    return true;
  }
  if (line[0] != '"') {
    AppendFormat(messages, "ERROR: '%s': Broken string format '%c' at line '%i'.\n",
                 context.fileName.c_str(), line[0], context.lineNumber);
    AppendFormat(messages,
                 "If is an empty string leave field empty, if is not empty put the text between "
                 "\".\n");
    return false;
  }
  const std::size_t length = line.size();
  std::size_t i = 1;
  while (i < length) {
    const char c = line[i];
    const char n = i + 1 < length ? line[i + 1] : '\0';
    if (c == '"' && n == '"') {
      out += '"';
      i += 2;
    } else if (c == '"' && n != ',' && i + 1 < length) {
      AppendFormat(messages, "ERROR: '%s': Unexpected end of string in field '%i' at line '%i'.\n",
                   context.fileName.c_str(), context.fieldIndex, context.lineNumber);
      return false;
    } else if (c == '"') {
      line.erase(0, i + 2 < length ? i + 2 : i + 1);
      return true;
    } else if (c == '\\' && n == '\\' && i + 2 < length &&
               (line[i + 2] == 'n' || line[i + 2] == 'r')) {
      // Two backslashes and a letter n or r: a backslash and that letter.
      out += '\\';
      out += line[i + 2];
      i += 3;
    } else if (c == '\\' && n == 'n') {
      out += '\n';
      i += 2;
    } else if (c == '\\' && n == 'r') {
      out += '\r';
      i += 2;
    } else {
      out += c;
      i += 1;
    }
  }
  AppendFormat(messages,
               "ERROR: '%s': Missing \" in the end of string in field '%i' at line '%i'.\n",
               context.fileName.c_str(), context.fieldIndex, context.lineNumber);
  return false;
}

// Integer fields through the C library: strtoll in the "C" locale, then
// limited to 32 bits.
inline std::int32_t RefParseInt(const std::string& token) {
  errno = 0;
  const long long value = std::strtoll(token.c_str(), nullptr, 10);
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

// Float fields: the accepted prefix is picked out by hand (strtod would also
// take hexadecimal, "inf" and "nan", and knows no 'd' exponent), rewritten
// with 'e', and converted by strtod; then rounded to float.
inline float RefParseFloat(const std::string& token) {
  std::size_t p = 0;
  const auto isSpace = [](char c) { return c == ' ' || (c >= 9 && c <= 13); };
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  while (p < token.size() && isSpace(token[p])) ++p;
  std::string number;
  if (p < token.size() && (token[p] == '+' || token[p] == '-')) number += token[p++];
  bool anyDigit = false;
  while (p < token.size() && isDigit(token[p])) {
    number += token[p++];
    anyDigit = true;
  }
  if (p < token.size() && token[p] == '.') {
    number += token[p++];
    while (p < token.size() && isDigit(token[p])) {
      number += token[p++];
      anyDigit = true;
    }
  }
  if (!anyDigit) return 0.0f;
  if (p < token.size() &&
      (token[p] == 'e' || token[p] == 'E' || token[p] == 'd' || token[p] == 'D')) {
    std::size_t q = p + 1;
    std::string exponent = "e";
    if (q < token.size() && (token[q] == '+' || token[q] == '-')) exponent += token[q++];
    if (q < token.size() && isDigit(token[q])) {
      while (q < token.size() && isDigit(token[q])) exponent += token[q++];
      number += exponent;
    }
  }
  const double value = std::strtod(number.c_str(), nullptr);
  // Past FLT_MAX plus half its unit in the last place the nearest float is
  // an infinity; below that, FLT_MAX. A plain cast is undefined there.
  const double limit = static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103);
  if (std::fabs(value) >= limit) {
    return value < 0 ? -std::numeric_limits<float>::infinity()
                     : std::numeric_limits<float>::infinity();
  }
  if (std::fabs(value) > static_cast<double>(FLT_MAX)) return value < 0 ? -FLT_MAX : FLT_MAX;
  return static_cast<float>(value);
}

inline void PutLittleEndian(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

struct RefLoadResult {
  bool ok = false;
  std::string messages;  // what the loader prints after "Loading file"
  std::string dbc;       // the whole expected DBC file when ok
};

// Loads `content` as the CSV file `fileName` and builds the DBC bytes.
inline RefLoadResult RefLoad(std::string_view content, const std::string& fileName) {
  RefLoadResult result;
  std::string& messages = result.messages;
  const char* name = fileName.c_str();

  // Text mode: byte 26 ends the file, lines end at a line feed, a carriage
  // return right before the line feed is dropped, and a final line feed
  // starts no further line.
  const std::size_t eof = content.find('\x1a');
  if (eof != std::string_view::npos) content = content.substr(0, eof);
  std::vector<std::string> lines;
  std::string current;
  bool open = false;
  for (const char c : content) {
    if (c == '\n') {
      if (!current.empty() && current.back() == '\r') current.pop_back();
      lines.push_back(current);
      current.clear();
      open = false;
    } else {
      current += c;
      open = true;
    }
  }
  if (open) lines.push_back(current);

  std::string header = lines.empty() ? std::string() : lines[0];
  if (header.size() < 3) {
    AppendFormat(messages,
                 "ERROR: '%s': First line must contain field types (int,float,byte,string).\n",
                 name);
    return result;
  }
  enum class Type { String, Float, Byte, Int };
  std::map<std::int32_t, Type> fieldTypes;
  std::int32_t fieldCount = 0;
  std::int32_t recordSize = 0;
  std::string token;
  while (RefNextToken(header, token)) {
    if (token == "string") {
      fieldTypes[fieldCount] = Type::String;
      recordSize += 4;
    } else if (token == "float") {
      fieldTypes[fieldCount] = Type::Float;
      recordSize += 4;
    } else if (token == "byte") {
      fieldTypes[fieldCount] = Type::Byte;
      recordSize += 1;
    } else if (token == "int") {
      fieldTypes[fieldCount] = Type::Int;
      recordSize += 4;
    } else {
      if (token.empty()) {
        AppendFormat(messages, "ERROR: '%s': Name of field '%i' is empty.\n", name, fieldCount + 1);
      } else {
        AppendFormat(messages, "ERROR: '%s': Unknown field type '%s'.\n", name, token.c_str());
      }
      return result;
    }
    ++fieldCount;
  }

  const auto recordCount = static_cast<std::int32_t>(lines.size() - 1);
  if (recordCount == 0) {
    AppendFormat(messages, "ERROR: '%s': No records found.\n", name);
    return result;
  }

  RefContext context{fileName, 1, 0};
  std::string block(1, '\0');
  std::map<std::string, std::int32_t> stringOffsets;
  std::string records;
  for (std::int32_t r = 0; r < recordCount; ++r) {
    std::string buffer = lines[static_cast<std::size_t>(r) + 1];
    ++context.lineNumber;
    context.fieldIndex = 0;
    for (const auto& [k, type] : fieldTypes) {
      if (buffer.empty()) {
        if (type != Type::String) {
          AppendFormat(messages, "ERROR: '%s': Expected '%i' fields not '%i' at line '%i'.\n", name,
                       fieldCount, context.fieldIndex, context.lineNumber);
          return result;
        }
        if (context.fieldIndex + 1 != fieldCount) {
          AppendFormat(messages, "ERROR: '%s': Expected '%i' fields not '%i' at line '%i'.\n", name,
                       fieldCount, context.fieldIndex + 1, context.lineNumber);
          return result;
        }
      }
      if (type == Type::String) {
        std::string value;
        if (!RefReadQuotedString(context, buffer, value, messages)) return result;
        std::int32_t offset = 0;
        if (!value.empty()) {
          const auto found = stringOffsets.find(value);
          if (found != stringOffsets.end()) {
            offset = found->second;
          } else {
            offset = static_cast<std::int32_t>(block.size());
            block += value;
            block += '\0';
            stringOffsets[value] = offset;
          }
        }
        PutLittleEndian(records, static_cast<std::uint32_t>(offset));
      } else {
        RefNextToken(buffer, token);
        if (token.empty()) {
          AppendFormat(messages, "ERROR: '%s': Empty int/float/byte field '%i' at line '%i'.\n",
                       name, context.fieldIndex + 1, context.lineNumber);
          return result;
        }
        if (type == Type::Float) {
          const float value = RefParseFloat(token);
          std::uint32_t bits;
          std::memcpy(&bits, &value, 4);
          PutLittleEndian(records, bits);
        } else if (type == Type::Byte) {
          records += static_cast<char>(static_cast<std::uint32_t>(RefParseInt(token)) & 0xFF);
        } else {
          PutLittleEndian(records, static_cast<std::uint32_t>(RefParseInt(token)));
        }
      }
      if (!buffer.empty() && context.fieldIndex + 1 >= fieldCount) {
        AppendFormat(messages,
                     "WARNING: '%s': Contains more fields than expected at line '%i'. "
                     "(ignoring).\n",
                     name, context.lineNumber);
        break;
      }
      ++context.fieldIndex;
    }
  }

  AppendFormat(messages, "CSV file loaded '%s'.\n", name);
  result.ok = true;
  std::string& dbc = result.dbc;
  dbc = "WDBC";
  PutLittleEndian(dbc, static_cast<std::uint32_t>(recordCount));
  PutLittleEndian(dbc, static_cast<std::uint32_t>(fieldCount));
  PutLittleEndian(dbc, static_cast<std::uint32_t>(recordSize));
  PutLittleEndian(dbc, static_cast<std::uint32_t>(block.size()));
  dbc += records;
  dbc += block;
  return result;
}

}  // namespace dbcpack::fuzz
