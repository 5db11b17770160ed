// The tidy of a spreadsheet's table: the separator is settled by reading the
// whole text under each, then the text is read once more and written cell by
// cell. Lines and columns in messages count from 1, the line of types being
// line 1: a spreadsheet's row numbers, and the lines of the tidied text.
#include "table/spreadsheet_tidy.h"

#include <algorithm>
#include <span>
#include <vector>

#include "table/dbc_table.h"
#include "table/field_type.h"
#include "table/number_format.h"
#include "table/number_parse.h"
#include "table/spreadsheet_csv.h"

namespace dbcpack {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z: ends a text file for the loader
// Cells named one by one for holding an error value; the rest are counted.
constexpr std::size_t kNamedErrorValues = 10;
// Bytes of a cell's text shown in a message.
constexpr std::size_t kShownBytes = 40;

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A header cell's type: a keyword with spaces around it, in any case.
bool KeywordType(const SpreadsheetCell& cell, FieldType& type) {
  const std::string_view text = TrimSpaces(cell.body);
  char lower[8] = {};
  if (text.size() >= sizeof lower) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view keyword(lower, text.size());
  for (const FieldType candidate :
       {FieldType::String, FieldType::Float, FieldType::Byte, FieldType::Int}) {
    if (keyword == FieldTypeKeyword(candidate)) {
      type = candidate;
      return true;
    }
  }
  return false;
}

// The header's types; false with the one-based column of the first cell
// that is not a keyword.
bool ReadTypes(const std::vector<SpreadsheetCell>& cells, std::vector<FieldType>& types,
               std::size_t& badColumn) {
  types.clear();
  for (const SpreadsheetCell& cell : cells) {
    FieldType type;
    if (!KeywordType(cell, type)) {
      badColumn = types.size() + 1;
      return false;
    }
    types.push_back(type);
  }
  return true;
}

// How the text reads under one separator.
struct Reading {
  bool typesRead = false;  // the first line reads as types
  bool whole = false;      // and every line as that many cells, none malformed
  std::size_t headerCells = 0;
};

Reading TryReading(std::string_view text, char separator, std::vector<SpreadsheetCell>& cells) {
  Reading reading;
  SpreadsheetReader reader(text, separator);
  if (!reader.NextRow(cells)) return reading;
  reading.headerCells = cells.size();
  std::vector<FieldType> types;
  std::size_t badColumn = 0;
  reading.typesRead = ReadTypes(cells, types, badColumn);
  if (!reading.typesRead) return reading;
  while (reader.NextRow(cells)) {
    if (cells.size() != reading.headerCells) return reading;
  }
  reading.whole = reader.Problem() == RowProblem::None;
  return reading;
}

// ',' where it reads the whole text, else ';' where that does; failing
// both, the one whose errors are the ones to show.
char ChooseSeparator(std::string_view text) {
  std::vector<SpreadsheetCell> cells;
  const Reading comma = TryReading(text, ',', cells);
  if (comma.whole) return ',';
  const Reading semicolon = TryReading(text, ';', cells);
  if (semicolon.whole) return ';';
  if (comma.typesRead != semicolon.typesRead) return comma.typesRead ? ',' : ';';
  return semicolon.headerCells > comma.headerCells ? ';' : ',';
}

// A cell's text for a message: one line, at most kShownBytes bytes (never
// cutting a UTF-8 sequence), control bytes as escapes.
std::string Shown(std::string_view text) {
  std::string_view shown = text;
  if (shown.size() > kShownBytes) {
    std::size_t cut = kShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    shown = text.substr(0, cut);
  }
  std::string result;
  for (const char c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      result += "\\n";
    } else if (c == '\r') {
      result += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789ABCDEF";
      result += "\\x";
      result += kHex[byte >> 4];
      result += kHex[byte & 0xF];
    } else {
      result += c;
    }
  }
  if (shown.size() < text.size()) result += "...";
  return result;
}

bool IsErrorValue(std::string_view text) {
  static constexpr std::string_view kErrorValues[] = {"#NAME?", "#VALUE!", "#REF!", "#DIV/0!",
                                                      "#N/A",   "#NUM!",   "#NULL!"};
  if (text.starts_with("Err:") && text.size() > 4) {
    return std::all_of(text.begin() + 4, text.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  return std::find(std::begin(kErrorValues), std::end(kErrorValues), text) !=
         std::end(kErrorValues);
}

// What the loader makes of a number cell's text, for a message.
std::string ReadAs(FieldType type, std::string_view text) {
  if (type == FieldType::Float) {
    char digits[kMaxFloatText];
    return std::string(digits, FormatFloat(ParseFloat(text), digits));
  }
  if (type == FieldType::Byte) return std::to_string(ParseByte(text));
  return std::to_string(ParseInt(text));
}

// The rewrite, row by row, into `out`.
struct Tidier {
  const std::string& name;
  MessageSink& sink;
  std::string& out;
  TidyChanges& changes;
  char separator;
  std::vector<FieldType> types;
  std::string number;  // a number cell's text with its decimal comma made a point
  std::size_t errorValues = 0;
  std::size_t row = 0;

  bool Header(const std::vector<SpreadsheetCell>& cells, std::string_view rowText);
  bool Record(const std::vector<SpreadsheetCell>& cells);
  bool StringCell(const SpreadsheetCell& cell, std::size_t column);
  bool NumberCell(const SpreadsheetCell& cell, FieldType type, std::size_t column);
  void Refuse(std::size_t column, const char* what) {
    sink.Print("ERROR: '%s': Line '%zu': Column '%zu': %s.\n", name.c_str(), row, column, what);
  }
};

bool Tidier::Header(const std::vector<SpreadsheetCell>& cells, std::string_view rowText) {
  std::size_t badColumn = 0;
  if (!ReadTypes(cells, types, badColumn)) {
    sink.Print(
        "ERROR: '%s': Line '%zu': Column '%zu': '%s' is not a field type (int, float, byte or "
        "string).\n",
        name.c_str(), row, badColumn, Shown(cells[badColumn - 1].body).c_str());
    return false;
  }
  const std::string line = TypeListText(types);
  changes.firstLine = rowText != line;
  out += line;
  out += '\n';
  return true;
}

bool Tidier::Record(const std::vector<SpreadsheetCell>& cells) {
  if (cells.size() != types.size()) {
    sink.Print("ERROR: '%s': Line '%zu': Has '%zu' cells, but the first line has '%zu'.\n",
               name.c_str(), row, cells.size(), types.size());
    return false;
  }
  for (std::size_t k = 0; k < cells.size(); ++k) {
    if (k != 0) out += ',';
    const bool ok = types[k] == FieldType::String ? StringCell(cells[k], k + 1)
                                                  : NumberCell(cells[k], types[k], k + 1);
    if (!ok) return false;
  }
  out += '\n';
  return true;
}

bool Tidier::StringCell(const SpreadsheetCell& cell, std::size_t column) {
  const std::string_view body = cell.body;
  if (body.empty()) {
    if (!cell.raw.empty()) ++changes.otherCells;  // "" or padding: written as nothing
    return true;
  }
  if (IsErrorValue(body) && errorValues++ < kNamedErrorValues) {
    sink.Print(
        "WARNING: '%s': Line '%zu': Column '%zu': Holds '%s', a spreadsheet's error value: a "
        "formula took the place of the text; check it against the original.\n",
        name.c_str(), row, column, Shown(body).c_str());
  }
  bool lineBreak = false;
  out += '"';
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '"') {
      // In a quoted cell the quote is written twice already.
      out += "\"\"";
      i += cell.quoted ? 1 : 0;
    } else if (c == '\n' || c == '\r') {
      if (i > 0 && body[i - 1] == '\\') {
        Refuse(column,
               "A backslash right before a line break cannot be written in a string (it would "
               "read back as a backslash and a letter)");
        return false;
      }
      out += c == '\n' ? "\\n" : "\\r";
      lineBreak = true;
    } else if (c == kEndOfFile) {
      Refuse(column, "A byte 26 (Ctrl-Z) cannot be written in a string: it ends a text file");
      return false;
    } else {
      out += c;
    }
  }
  out += '"';
  if (!cell.quoted) {
    ++changes.stringsQuoted;
  } else if (lineBreak) {
    ++changes.lineBreaks;
  } else if (cell.raw.size() != body.size() + 2) {
    ++changes.otherCells;  // spaces around the quotes
  }
  return true;
}

bool Tidier::NumberCell(const SpreadsheetCell& cell, FieldType type, std::size_t column) {
  std::string_view text = TrimSpaces(cell.body);
  const bool decimalComma = separator == ';' && text.find(',') != std::string_view::npos;
  if (decimalComma) {
    number.assign(text);
    std::replace(number.begin(), number.end(), ',', '.');
    text = number;
  }
  const char* const keyword = FieldTypeKeyword(type);
  if (text.empty()) {
    sink.Print(
        "ERROR: '%s': Line '%zu': Column '%zu': The %s cell is empty; dbcpack refuses that.\n",
        name.c_str(), row, column, keyword);
    return false;
  }
  const std::size_t length = type == FieldType::Float ? DecimalLength(text) : IntLength(text);
  if (length != text.size()) {
    sink.Print(
        "ERROR: '%s': Line '%zu': Column '%zu': '%s' is not %s %s in full: dbcpack would read it "
        "as %s.\n",
        name.c_str(), row, column, Shown(cell.body).c_str(), type == FieldType::Int ? "an" : "a",
        keyword, ReadAs(type, text).c_str());
    return false;
  }
  out += text;
  if (decimalComma) {
    ++changes.decimalCommas;
  } else if (cell.quoted) {
    ++changes.numbersUnquoted;
  } else if (text.size() != cell.raw.size()) {
    ++changes.otherCells;
  }
  return true;
}

void SayRowProblem(const SpreadsheetReader& reader, const std::string& name, MessageSink& sink) {
  const char* const what = reader.Problem() == RowProblem::UnclosedQuote
                               ? "The quote that opens this cell never closes"
                               : "Text follows the closing quote of this cell";
  sink.Print("ERROR: '%s': Line '%zu': Column '%zu': %s.\n", name.c_str(), reader.Row(),
             reader.ProblemColumn(), what);
}

// The last word: the loader reads the new text into as many records as it
// has lines after the first, and says nothing.
bool LoadsAsItShould(const std::string& out, std::size_t records, const std::string& name,
                     MessageSink& sink) {
  DbcTable table;
  table.fileName = name;
  StringSink said;
  const std::string_view piece = out;
  const bool loaded = table.ParseCsv(std::span<const std::string_view>(&piece, 1), said);
  if (loaded && said.Text().empty() && static_cast<std::size_t>(table.recordCount) == records) {
    return true;
  }
  const std::string first = said.Text().substr(0, said.Text().find('\n'));
  sink.Print(
      "ERROR: '%s': The tidied text does not load as it should ('%d' records; %s); the "
      "file is left as it was.\n",
      name.c_str(), table.recordCount, first.empty() ? "no message" : first.c_str());
  return false;
}

}  // namespace

bool TidyCsv(std::string_view text, const std::string& name, std::string& out, TidyChanges& changes,
             MessageSink& sink) {
  changes = TidyChanges();
  out.clear();
  changes.byteOrderMark = StripByteOrderMark(text);
  // The loader takes a final byte 26 for the end of the file; so does this.
  if (text.ends_with(kEndOfFile)) text.remove_suffix(1);
  if (text.empty()) {
    sink.Print("ERROR: '%s': The file is empty; its first line must hold the field types.\n",
               name.c_str());
    return false;
  }
  const std::size_t notUtf8 = FirstInvalidUtf8(text);
  out.reserve(text.size() + text.size() / 8 + 16);
  Tidier tidier{name, sink, out, changes, ChooseSeparator(text), {}, {}, 0, 0};
  changes.semicolons = tidier.separator == ';';
  SpreadsheetReader reader(text, tidier.separator);
  std::vector<SpreadsheetCell> cells;
  while (reader.NextRow(cells)) {
    tidier.row = reader.Row();
    if (notUtf8 >= reader.RowOffset() && notUtf8 < reader.RowOffset() + reader.RowText().size()) {
      sink.Print(
          "WARNING: '%s': Line '%zu': Not UTF-8 text; a spreadsheet that saves in a legacy code "
          "page changes every letter outside ASCII: save as \"CSV UTF-8\".\n",
          name.c_str(), tidier.row);
    }
    changes.crLf |= reader.RowEndedInCrLf();
    changes.finalLineFeed = reader.RowUnterminated();
    if (!(tidier.row == 1 ? tidier.Header(cells, reader.RowText()) : tidier.Record(cells))) {
      return false;
    }
  }
  if (reader.Problem() != RowProblem::None) {
    SayRowProblem(reader, name, sink);
    return false;
  }
  if (tidier.errorValues > kNamedErrorValues) {
    sink.Print("WARNING: '%s': '%zu' more cells hold a spreadsheet's error value.\n", name.c_str(),
               tidier.errorValues - kNamedErrorValues);
  }
  if (reader.Row() < 2) {
    sink.Print("ERROR: '%s': Table has no records; dbcpack refuses a table without records.\n",
               name.c_str());
    return false;
  }
  return LoadsAsItShould(out, reader.Row() - 1, name, sink);
}

std::string DescribeChanges(const TidyChanges& changes) {
  std::vector<std::string> parts;
  const auto count = [&parts](std::size_t n, const char* one, const char* many) {
    if (n != 0) parts.push_back(CountOf(n, one, many));
  };
  if (changes.byteOrderMark) parts.emplace_back("byte order mark removed");
  if (changes.semicolons) parts.emplace_back("cells separated by ',' instead of ';'");
  if (changes.firstLine) parts.emplace_back("first line mended");
  count(changes.stringsQuoted, "string cell quoted", "string cells quoted");
  count(changes.lineBreaks, "string with line breaks written as \\n or \\r",
        "strings with line breaks written as \\n or \\r");
  count(changes.decimalCommas, "decimal comma made a point", "decimal commas made points");
  count(changes.numbersUnquoted, "number unquoted", "numbers unquoted");
  count(changes.otherCells, "other cell rewritten", "other cells rewritten");
  if (changes.crLf) parts.emplace_back("line ends made LF");
  if (changes.finalLineFeed) parts.emplace_back("line feed added at the end");
  if (parts.empty()) return "rewritten";
  std::string text = parts.front();
  for (std::size_t i = 1; i < parts.size(); ++i) text.append(", ").append(parts[i]);
  return text;
}

}  // namespace dbcpack
