// The tidy of a spreadsheet's table as one property: generated tables full
// of hard strings, written by dbcunpack's writer, then saved again the ways
// spreadsheets save CSV (quotes only where needed, a byte order mark and
// capitals, ';' with decimal commas, CR LF with real line breaks in cells,
// every cell quoted and padded), each tidy back to exactly the text
// dbcunpack wrote, and that text is tidy already. Then the refusals and
// warnings, word for word.
#include "table/spreadsheet_tidy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "hard_strings.h"
#include "table/csv_writer.h"
#include "table/dbc_table.h"
#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/number_format.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::Printable;

struct Table {
  std::vector<FieldType> types;
  std::vector<std::vector<std::string>> rows;  // a string's value, or a number's text
};

Table RandomTable(std::mt19937_64& random) {
  const FieldType kTypes[] = {FieldType::Int, FieldType::Float, FieldType::Byte, FieldType::String};
  Table table;
  const std::size_t fields = 1 + random() % 5;
  for (std::size_t k = 0; k < fields; ++k) table.types.push_back(kTypes[random() % 4]);
  const std::size_t records = 1 + random() % 12;
  for (std::size_t r = 0; r < records; ++r) {
    std::vector<std::string> row;
    for (const FieldType type : table.types) {
      if (type == FieldType::String) {
        row.push_back(testing::HardString(random));
      } else if (type == FieldType::Float) {
        std::uint32_t bits;
        do bits = static_cast<std::uint32_t>(random());
        while (IsNanBits(bits));
        if (random() % 2 == 0) bits = std::bit_cast<std::uint32_t>(float(random() % 2000) / 8);
        char text[kMaxFloatText];
        row.emplace_back(text, FormatFloat(std::bit_cast<float>(bits), text));
      } else if (type == FieldType::Byte) {
        row.push_back(std::to_string(random() % 256));
      } else {
        row.push_back(std::to_string(static_cast<std::int32_t>(random() >> (random() % 40))));
      }
    }
    table.rows.push_back(row);
  }
  return table;
}

// The table as dbcunpack writes it: loaded, then written by its writer.
std::string Unpacked(const Table& table) {
  std::string text = TypeListText(table.types) + "\n";
  for (const auto& row : table.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (k != 0) text += ',';
      const bool string = table.types[k] == FieldType::String;
      text += string && !row[k].empty() ? QuotedCsvString(row[k]) : row[k];
    }
    text += '\n';
  }
  DbcTable loaded;
  loaded.fileName = "t.csv";
  StringSink ignored;
  EXPECT_TRUE(loaded.LoadCsvContent(text, ignored)) << ignored.Text();
  platform::LargeString out;
  EXPECT_TRUE(WriteCsv(loaded.Image(), table.types, "t.dbc", out, ignored));
  return std::string(out.data(), out.size());
}

enum class Writer { QuoteWhereNeeded, ByteOrderMark, Semicolons, CrLf, QuoteAll };

// What a spreadsheet shows of a string that dbcunpack wrote: its escapes
// as text; after an edit, a line break may be a real one.
std::string Shown(std::string_view value, bool realBreaks) {
  std::string shown;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const char next = i + 1 < value.size() ? value[i + 1] : '\0';
    if ((c == '\n' || c == '\r') && !realBreaks) {
      shown += c == '\n' ? "\\n" : "\\r";
    } else {
      shown += c;
      if (c == '\\' && (next == 'n' || next == 'r')) shown += '\\';
    }
  }
  return shown;
}

std::string Cell(std::string_view text, Writer writer, char separator, bool isText) {
  const bool needed = text.find_first_of(std::string("\"\r\n") + separator) != std::string::npos;
  if (!(needed || (writer == Writer::QuoteAll && (isText || !text.empty())))) {
    return std::string(text);
  }
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Header(const std::vector<FieldType>& types, Writer writer, char separator) {
  std::string line;
  for (std::size_t k = 0; k < types.size(); ++k) {
    std::string keyword = FieldTypeKeyword(types[k]);
    if (writer == Writer::ByteOrderMark) keyword[0] = static_cast<char>(keyword[0] - 'a' + 'A');
    if (writer == Writer::QuoteAll) keyword = " " + keyword + " ";
    line += (k != 0 ? std::string(1, separator) : "") + Cell(keyword, writer, separator, true);
  }
  return line;
}

// The table saved as a spreadsheet of that kind saves CSV.
std::string Saved(const Table& table, Writer writer) {
  const char separator = writer == Writer::Semicolons ? ';' : ',';
  const std::string end = writer == Writer::CrLf ? "\r\n" : "\n";
  std::string text = writer == Writer::ByteOrderMark ? "\xEF\xBB\xBF" : "";
  text += Header(table.types, writer, separator) + end;
  for (const auto& row : table.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      std::string cell = row[k];
      const bool isText = table.types[k] == FieldType::String;
      if (isText) cell = Shown(cell, writer == Writer::CrLf);
      if (!isText && writer == Writer::Semicolons) std::replace(cell.begin(), cell.end(), '.', ',');
      text += (k != 0 ? std::string(1, separator) : "") + Cell(cell, writer, separator, isText);
    }
    text += end;
  }
  return text;
}

struct Tidied {
  bool ok;
  std::string text;
  std::string messages;
};

Tidied Tidy(std::string_view text) {
  Tidied result;
  TidyChanges changes;
  StringSink sink;
  result.ok = TidyCsv(text, "t.csv", result.text, changes, sink);
  result.messages = sink.Text();
  return result;
}

TEST(SpreadsheetTidyTest, TablesSavedBySpreadsheetsTidyToWhatDbcunpackWrote) {
  std::mt19937_64 random(18);
  for (int i = 0; i < 300 && !HasFailure(); ++i) {
    const Table table = RandomTable(random);
    const std::string unpacked = Unpacked(table);
    SCOPED_TRACE(Printable(unpacked));
    const Tidied same = Tidy(unpacked);
    EXPECT_TRUE(same.ok && same.text == unpacked) << same.messages;
    for (const Writer writer : {Writer::QuoteWhereNeeded, Writer::ByteOrderMark, Writer::Semicolons,
                                Writer::CrLf, Writer::QuoteAll}) {
      const std::string saved = Saved(table, writer);
      const Tidied tidied = Tidy(saved);
      EXPECT_TRUE(tidied.ok) << Printable(saved) << tidied.messages;
      EXPECT_EQ(tidied.messages, "") << Printable(saved);
      EXPECT_EQ(Printable(tidied.text), Printable(unpacked))
          << "writer " << static_cast<int>(writer) << ": " << Printable(saved);
    }
  }
}

TEST(SpreadsheetTidyTest, RefusesWhatWouldNotReadBackAndNamesWhatASpreadsheetPutThere) {
  const std::string at = "ERROR: 't.csv': Line '";
  const struct {
    std::string text;
    std::string messages;
    std::string tidied = {};  // empty: refused
  } kCases[] = {
      {"int,float\n1,2.5\n12abc,1\n",
       at + "3': Column '1': '12abc' is not an int in full: dbcpack would read it as 12.\n"},
      {"string;float\n\"a\";0,5\n\"b\";1,2,3\n",
       at + "3': Column '2': '1,2,3' is not a float in full: dbcpack would read it as 1.2.\n"},
      {"byte,byte\n1,\n", at + "2': Column '2': The byte cell is empty; dbcpack refuses that.\n"},
      {"int,string\n1,\"a\"\n2\n", at + "3': Has '1' cells, but the first line has '2'.\n"},
      {"int,string\n1,\"a\n2,b\n",
       at + "2': Column '2': The quote that opens this cell never closes.\n"},
      {"int,string\n1,\"a\"b\n",
       at + "2': Column '2': Text follows the closing quote of this cell.\n"},
      {"\"int\",\"strng\"\n1,a\n",
       at + "1': Column '2': 'strng' is not a field type (int, float, byte or string).\n"},
      {"int,string\n1,\"a\\\nb\"\n",
       at + "2': Column '2': A backslash right before a line break cannot be written in a string "
            "(it would read back as a backslash and a letter).\n"},
      {"int,string\n1,\"a\x1A\"\n",
       at + "2': Column '2': A byte 26 (Ctrl-Z) cannot be written in a string: it ends a text "
            "file.\n"},
      {"INT\n", "ERROR: 't.csv': Table has no records; dbcpack refuses a table without records.\n"},
      {"int,string\n1,#NAME?\n2,\"Err:502\"\n",
       "WARNING: 't.csv': Line '2': Column '2': Holds '#NAME?', a spreadsheet's error value: a "
       "formula took the place of the text; check it against the original.\n"
       "WARNING: 't.csv': Line '3': Column '2': Holds 'Err:502', a spreadsheet's error value: a "
       "formula took the place of the text; check it against the original.\n",
       "int,string\n1,\"#NAME?\"\n2,\"Err:502\"\n"},
      {"string\n\"caf\xC3\xA9\"\n\"caf\xE9\"\n",
       "WARNING: 't.csv': Line '3': Not UTF-8 text; a spreadsheet that saves in a legacy code page "
       "changes every letter outside ASCII: save as \"CSV UTF-8\".\n",
       "string\n\"caf\xC3\xA9\"\n\"caf\xE9\"\n"},
  };
  for (const auto& c : kCases) {
    const Tidied tidied = Tidy(c.text);
    EXPECT_EQ(tidied.messages, c.messages) << Printable(c.text);
    EXPECT_EQ(tidied.ok, !c.tidied.empty()) << Printable(c.text);
    if (tidied.ok) {
      EXPECT_EQ(Printable(tidied.text), Printable(c.tidied));
    }
  }
}

}  // namespace
}  // namespace dbcpack
