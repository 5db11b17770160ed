// Reading the CSV text a spreadsheet saves: cells quoted or bare (a quoted
// cell may hold the separator, a line break, and a quote written twice),
// separated by ',' or ';', rows ended by LF or CR LF, perhaps after a UTF-8
// byte order mark. Nothing is copied: cells are views into the text.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace dbcpack {

struct SpreadsheetCell {
  // A quoted cell's text between its quotes, every quote in it still
  // written twice; a bare cell's text.
  std::string_view body;
  // The cell as the file holds it: quotes and the spaces around them too.
  std::string_view raw;
  bool quoted = false;
};

enum class RowProblem { None, UnclosedQuote, TextAfterQuote };

// Removes a UTF-8 byte order mark from the front of `text`; returns whether
// there was one.
bool StripByteOrderMark(std::string_view& text);

// The offset of the first byte of `text` that is not part of well-formed
// UTF-8 (an overlong form, a surrogate, past U+10FFFF, a cut sequence), or
// text.size() when all of it is.
std::size_t FirstInvalidUtf8(std::string_view text);

// Reads `text` row by row. A cell is quoted when its first byte other than
// a space is a double quote: it runs to the quote that is not written
// twice, and only spaces may follow that before the separator or the end
// of the row. Any other cell is bare and runs to the separator or the end
// of the row. A row ends at a line feed outside quotes (a carriage return
// right before it is part of the line end) or at the end of the text;
// text after the last line feed is one more row.
class SpreadsheetReader {
 public:
  SpreadsheetReader(std::string_view text, char separator) : text_(text), separator_(separator) {}

  // Reads the next row into `cells`. False at the end of the text, and
  // for a row that is malformed (Problem() says how, ProblemColumn() where).
  bool NextRow(std::vector<SpreadsheetCell>& cells);

  std::size_t Row() const { return row_; }  // one-based number of the row last read
  RowProblem Problem() const { return problem_; }
  std::size_t ProblemColumn() const { return problemColumn_; }  // one-based
  // The row last read as the file holds it, without its line end.
  std::string_view RowText() const { return rowText_; }
  std::size_t RowOffset() const { return static_cast<std::size_t>(rowText_.data() - text_.data()); }
  bool RowEndedInCrLf() const { return crLf_; }
  // The last row of a text that does not end in a line feed.
  bool RowUnterminated() const { return unterminated_; }

 private:
  // Reads one cell at at_; false on a problem.
  bool ReadCell(std::vector<SpreadsheetCell>& cells, bool& rowEnds);
  bool ReadQuotedCell(std::size_t start, std::size_t quote, SpreadsheetCell& cell);
  // Ends the row at the line feed (or end of text) at `at`.
  void EndRow(std::size_t at);

  std::string_view text_;
  char separator_;
  std::size_t at_ = 0;
  std::size_t rowStart_ = 0;
  std::size_t row_ = 0;
  std::string_view rowText_;
  bool crLf_ = false;
  bool unterminated_ = false;
  RowProblem problem_ = RowProblem::None;
  std::size_t problemColumn_ = 0;
};

}  // namespace dbcpack
