// Field cutting for the CSV dialect. Both readers shorten the line view in
// place; neither allocates beyond what `out` already holds.
#include "table/field_reader.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dbcpack {

const char* FindQuoteOrBackslash(const char* p, const char* const end) {
#if defined(__SSE2__)
  // Sixteen bytes at a time; the tail byte by byte, so that nothing past
  // `end` is read.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  for (; p != end; ++p) {
    if (*p == '"' || *p == '\\') return p;
  }
  return end;
}

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

QuotedEnd ScanQuotedBody(const char* body, const char* const end, std::string& out,
                         const char*& quote) {
  const char* p = body;
  for (;;) {
    // Copy the plain run up to the next quote or backslash in one go.
    const char* const stop = FindQuoteOrBackslash(p, end);
    out.append(p, static_cast<std::size_t>(stop - p));
    if (stop == end) return QuotedEnd::Missing;
    const char next = stop + 1 != end ? stop[1] : '\0';
    if (*stop == '\\') {
      // \n and \r are a line feed and a carriage return, and \\n and \\r a
      // backslash before the letter, which could not be written otherwise.
      // Any other backslash is itself, so \\ before anything else is two.
      const char after = end - stop > 2 ? stop[2] : '\0';
      if (next == 'n' || next == 'r') {
        out.push_back(next == 'n' ? '\n' : '\r');
        p = stop + 2;
      } else if (next == '\\' && (after == 'n' || after == 'r')) {
        out.push_back('\\');
        out.push_back(after);
        p = stop + 3;
      } else {
        out.push_back('\\');
        p = stop + 1;
      }
      continue;
    }
    if (next == '"') {
      out.push_back('"');
      p = stop + 2;
      continue;
    }
    if (next != ',' && stop + 1 != end) return QuotedEnd::UnexpectedEnd;
    quote = stop;
    return QuotedEnd::Closed;
  }
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
  const char* const end = line.data() + line.size();
  const char* quote = nullptr;
  switch (ScanQuotedBody(line.data() + 1, end, out, quote)) {
    case QuotedEnd::Closed: {
      // A comma that ends the line stays, as one more, empty, field.
      const auto i = static_cast<std::size_t>(quote - line.data());
      line.remove_prefix(i + 2 < line.size() ? i + 2 : i + 1);
      return true;
    }
    case QuotedEnd::UnexpectedEnd:
      sink.Print("ERROR: '%s': Unexpected end of string in field '%i' at line '%i'.\n",
                 table.fileName.c_str(), table.fieldIndex, table.lineNumber);
      return false;
    case QuotedEnd::Missing:
      break;
  }
  sink.Print("ERROR: '%s': Missing \" in the end of string in field '%i' at line '%i'.\n",
             table.fileName.c_str(), table.fieldIndex, table.lineNumber);
  return false;
}

bool ReadQuotedField(const DbcTable& table, std::string_view& line, std::string& scratch,
                     std::string_view& value, MessageSink& sink) {
  value = std::string_view();
  if (line.size() > 1 && line.front() == '"') {
    const char* const body = line.data() + 1;
    const char* const end = line.data() + line.size();
    const char* const stop = FindQuoteOrBackslash(body, end);
    if (stop != end && *stop == '"' && (stop + 1 == end || stop[1] == ',')) {
      value = std::string_view(body, static_cast<std::size_t>(stop - body));
      const auto i = static_cast<std::size_t>(stop - line.data());
      line.remove_prefix(i + 2 < line.size() ? i + 2 : i + 1);
      return true;
    }
  }
  // Escapes, doubled quotes, empty fields and errors: the general reader.
  scratch.clear();
  if (!ReadQuotedString(table, line, scratch, sink)) return false;
  value = scratch;
  return true;
}

}  // namespace dbcpack
