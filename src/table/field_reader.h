// Cutting single fields from the front of the rest of a CSV line: plain
// tokens up to a comma, and double-quoted strings with their escapes.
#pragma once

#include <string>
#include <string_view>

#include "table/dbc_table.h"
#include "table/message_sink.h"

namespace dbcpack {

// The first double quote or backslash in [p, end), or `end`.
const char* FindQuoteOrBackslash(const char* p, const char* end);

// How the body of a quoted string ended.
enum class QuotedEnd { Closed, UnexpectedEnd, Missing };

// Scans the body of a quoted string, from just past its opening quote (or
// from any later byte that is not the second or third byte of an escape or
// the second of a doubled quote) to `end`, appending the value to `out` with "" and the escapes \n,
// \r (a line feed, a carriage return) and \\n, \\r (a backslash before the letter) resolved.
// Closed: `quote` is set to the closing quote, which the end or a comma follows. UnexpectedEnd: a
// quote is followed by something else. Missing: no closing quote before `end`.
QuotedEnd ScanQuotedBody(const char* body, const char* end, std::string& out, const char*& quote);

// Cuts the text up to the first comma into `token` and removes it and the
// comma from `line`. A comma that is the last byte of `line` stays there, as
// one more, empty, field. Returns false, leaving `token` alone, only when
// `line` is empty.
bool NextToken(std::string_view& line, std::string_view& token);

// Reads one String field: nothing (an empty line or a leading comma) or a
// double-quoted value with "" for a quote and the backslash escapes of
// ScanQuotedBody. Appends the value to `out`, which must be empty, and
// removes the field from `line`. Prints an error naming table.fileName,
// lineNumber and fieldIndex and returns false on a malformed field.
bool ReadQuotedString(const DbcTable& table, std::string_view& line, std::string& out,
                      MessageSink& sink);

// ReadQuotedString for the loader's hot loop: hands the value out as a view,
// into `line`'s own bytes when it needs no unescaping (the common case,
// copied nowhere), else into `scratch`. Same results and messages.
bool ReadQuotedField(const DbcTable& table, std::string_view& line, std::string& scratch,
                     std::string_view& value, MessageSink& sink);

}  // namespace dbcpack
