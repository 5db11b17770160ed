// The tidy of one table a spreadsheet saved: its text rewritten into
// exactly the dialect the loader reads, the cells taken by their column's
// type. A cell that would not read back as what the spreadsheet showed is
// refused; what a spreadsheet may have put in place of the user's text is
// named. The rewritten text is loaded with the loader before it is handed
// out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "table/message_sink.h"

namespace dbcpack {

// What a tidy changed, for the message that says so.
struct TidyChanges {
  bool byteOrderMark = false;       // removed
  bool semicolons = false;          // the cells were separated by ';'
  bool crLf = false;                // a line ended in CR LF
  bool firstLine = false;           // the line of types was not written as the dialect writes it
  bool finalLineFeed = false;       // the text did not end in one
  std::size_t stringsQuoted = 0;    // non-empty string cells written bare
  std::size_t lineBreaks = 0;       // string cells holding a real line break
  std::size_t decimalCommas = 0;    // number cells with a decimal comma
  std::size_t numbersUnquoted = 0;  // number cells written in quotes
  std::size_t otherCells = 0;       // cells rewritten for anything else (padding, "")
};

// Rewrites `text`, a table as a spreadsheet saved it (see
// SpreadsheetReader), into `out`: the line of types bare and in lower case,
// every non-empty string cell in double quotes with a quote written twice
// and a real line feed or carriage return as \n or \r (the rest of its
// text kept byte for byte: the escapes in it are the dialect's already),
// number cells bare with a decimal comma made a point in a ';' file, LF
// line ends. The separator is ',' unless only ';' reads the first line as
// types and every line as that many cells.
//
// Refused, with an error naming `name`, the line and the column: a line
// of another cell count, a quote that never closes, text after a closing
// quote, a number cell that is not a number in full as the loader reads
// numbers, a string the dialect cannot carry (a backslash right before a
// line break, a byte 26), a table without records. Warned of, naming the
// line (and column): a string cell holding a spreadsheet's error value
// (#NAME?, Err:502...), text that is not UTF-8.
//
// Returns false after the error; `out` is then of no use. True means that
// `out` loads with the loader into a table of the same records; it equals
// `text` when the text was tidy already.
bool TidyCsv(std::string_view text, const std::string& name, std::string& out, TidyChanges& changes,
             MessageSink& sink);

// What was changed, in words, for "Tidied '<file>': ...".
std::string DescribeChanges(const TidyChanges& changes);

}  // namespace dbcpack
