// The field reader: what NextToken, ReadQuotedString and ReadQuotedField take
// from the front of a line, what they leave, and the exact text of every
// message.
#include "table/field_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "table/dbc_table.h"
#include "table/message_sink.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::Printable;

struct TokenCase {
  std::string line;
  bool result;
  std::string token;
  std::string rest;
};

TEST(FieldReaderTest, NextTokenCutsUpToTheFirstComma) {
  const TokenCase cases[] = {
      {"", false, "<unchanged>", ""},
      {"1,2", true, "1", "2"},
      {"2", true, "2", ""},
      {",", true, "", ","},  // a final comma stays: one more, empty, field
      {"2,", true, "2", ","},
      {",,", true, "", ","},
      {",2", true, "", "2"},
      {"1,,2", true, "1", ",2"},
      {" a b ,c", true, " a b ", "c"},      // nothing is trimmed
      {"\"x,y\",z", true, "\"x", "y\",z"},  // quotes mean nothing here
      {std::string("\0\xff\r,\0", 5), true, std::string("\0\xff\r", 3), std::string("\0", 1)},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(Printable(c.line));
    std::string_view line = c.line;
    std::string_view token = "<unchanged>";
    EXPECT_EQ(NextToken(line, token), c.result);
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(line, c.rest);
  }
}

const std::string kHint =
    "If is an empty string leave field empty, if is not empty put the text between \".\n";

struct StringCase {
  std::string line;
  bool result;
  std::string value;
  std::string rest;  // checked only when result is true
  std::string message;
};

// The table names file t.csv, line 7, zero-based field 2 in every case.
TEST(FieldReaderTest, ReadQuotedStringTable) {
  const std::string unexpected =
      "ERROR: 't.csv': Unexpected end of string in field '2' at line '7'.\n";
  const std::string missing =
      "ERROR: 't.csv': Missing \" in the end of string in field '2' at line '7'.\n";
  const StringCase cases[] = {
      // Empty fields.
      {"", true, "", "", ""},
      {",", true, "", "", ""},
      {",x", true, "", "x", ""},
      {",,", true, "", ",", ""},
      {"\"\"", true, "", "", ""},
      {"\"\",x", true, "", "x", ""},
      // Values and what is left after them.
      {"\"Sword\"", true, "Sword", "", ""},
      {"\"a\"\"b\"", true, "a\"b", "", ""},
      {"\"\"\"\"", true, "\"", "", ""},
      {"\"a\"\"\"", true, "a\"", "", ""},
      {"\"a,b\"", true, "a,b", "", ""},
      {"\"a\",rest,more", true, "a", "rest,more", ""},
      {"\"a\",", true, "a", ",", ""},
      {"\"a\",,", true, "a", ",", ""},
      {"\"a\",\"b\"", true, "a", "\"b\"", ""},
      // Escapes: \n and \r are line breaks, \\n and \\r a backslash before
      // the letter; any other backslash is itself, and never escapes a quote.
      {"\"a\\nb\\rc\"", true, "a\nb\rc", "", ""},
      {"\"\\n\\r\"", true, "\n\r", "", ""},
      {"\"a\\tb\"", true, "a\\tb", "", ""},
      {R"("dir\\noname.mdx")", true, R"(dir\noname.mdx)", "", ""},
      {R"("x\\ry")", true, R"(x\ry)", "", ""},
      {R"("a\\\nb")", true, R"(a\\nb)", "", ""},
      {R"("\\\\r")", true, R"(\\\r)", "", ""},
      {R"("\\\n")", true, R"(\\n)", "", ""},
      {R"("p\\q")", true, R"(p\\q)", "", ""},
      {R"("\\server\share")", true, R"(\\server\share)", "", ""},
      {R"("a\\",x)", true, R"(a\\)", "x", ""},
      {R"("a\\""n")", true, R"(a\\"n)", "", ""},
      {R"("a\\N")", true, R"(a\\N)", "", ""},
      {"\"a\\\"", true, "a\\", "", ""},
      {"\"a\\\",x", true, "a\\", "x", ""},
      {"\"\\N\"", true, "\\N", "", ""},
      // Bytes pass through unchanged.
      {std::string("\"\0\xff\xc3\xa9\r\"", 7), true, std::string("\0\xff\xc3\xa9\r", 5), "", ""},
      // Malformed fields.
      {"abc", false, "", "", "ERROR: 't.csv': Broken string format 'a' at line '7'.\n" + kHint},
      {" \"a\"", false, "", "", "ERROR: 't.csv': Broken string format ' ' at line '7'.\n" + kHint},
      {"5", false, "", "", "ERROR: 't.csv': Broken string format '5' at line '7'.\n" + kHint},
      {std::string("\0", 1), false, "", "",
       std::string("ERROR: 't.csv': Broken string format '") + '\0' + "' at line '7'.\n" + kHint},
      {"\"a\"b", false, "", "", unexpected},
      {"\"a\" ,", false, "", "", unexpected},
      {"\"a\"\"\"x", false, "", "", unexpected},
      {std::string("\"a\"\0", 4), false, "", "", unexpected},
      {"\"", false, "", "", missing},
      {"\"abc", false, "", "", missing},
      {"\"a,b", false, "", "", missing},
      {"\"\"\"", false, "", "", missing},
      {"\"a\\", false, "", "", missing},
      {"\"a\\n", false, "", "", missing},
      {R"("a\\n)", false, "", "", missing},
  };
  for (const StringCase& c : cases) {
    SCOPED_TRACE(Printable(c.line));
    DbcTable table;
    table.fileName = "t.csv";
    table.lineNumber = 7;
    table.fieldIndex = 2;
    StringSink sink;
    std::string_view line = c.line;
    std::string out;
    EXPECT_EQ(ReadQuotedString(table, line, out, sink), c.result);
    EXPECT_EQ(Printable(sink.Text()), Printable(c.message));
    if (c.result) {
      EXPECT_EQ(Printable(out), Printable(c.value));
      EXPECT_EQ(Printable(line), Printable(c.rest));
    }

    // The loader's view-returning reader gives the same results and
    // messages, with a scratch buffer that holds an earlier value.
    StringSink fieldSink;
    std::string_view fieldLine = c.line;
    std::string scratch = "stale";
    std::string_view value = "stale";
    EXPECT_EQ(ReadQuotedField(table, fieldLine, scratch, value, fieldSink), c.result);
    EXPECT_EQ(Printable(fieldSink.Text()), Printable(c.message));
    if (c.result) {
      EXPECT_EQ(Printable(value), Printable(c.value));
      EXPECT_EQ(Printable(fieldLine), Printable(c.rest));
    }
  }
}

TEST(FieldReaderTest, MessagesUseTheTableState) {
  DbcTable table;
  table.fileName = "./dir/x y.csv";
  table.lineNumber = 123456;
  table.fieldIndex = 0;
  StringSink sink;
  std::string out;
  std::string_view line = "\"open";
  EXPECT_FALSE(ReadQuotedString(table, line, out, sink));
  EXPECT_EQ(sink.Text(),
            "ERROR: './dir/x y.csv': Missing \" in the end of string in field '0' at line "
            "'123456'.\n");
}

TEST(FieldReaderTest, ReadQuotedStringConsumesALineFieldByField) {
  DbcTable table;
  StringSink sink;
  std::string_view line = "\"a\",,\"b,c\",\"\",";
  std::string seen;
  for (int i = 0; i < 5; ++i) {
    std::string out;
    ASSERT_TRUE(ReadQuotedString(table, line, out, sink));
    seen += "[" + out + "]";
  }
  EXPECT_EQ(seen, "[a][][b,c][][]");
  EXPECT_TRUE(line.empty());
  EXPECT_EQ(sink.Text(), "");
}

TEST(FieldReaderTest, LongValuesAreReadWhole) {
  // Runs longer than any internal chunk, with escapes spread through them.
  std::string value, field = "\"";
  for (int i = 0; i < 5000; ++i) {
    value += static_cast<char>('a' + i % 26);
    field += static_cast<char>('a' + i % 26);
    if (i % 997 == 0) {
      value += "\"\n\\";
      field += "\"\"\\n\\";
    }
  }
  field += "\",tail";
  DbcTable table;
  StringSink sink;
  std::string_view line = field;
  std::string out;
  ASSERT_TRUE(ReadQuotedString(table, line, out, sink));
  EXPECT_EQ(out, value);
  EXPECT_EQ(line, "tail");
}

}  // namespace
}  // namespace dbcpack
