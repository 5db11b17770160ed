// The CSV loader: every message with its numbers and in its order, the text
// rules (CRLF, lone CR, byte 26, raw bytes), the records and string block a
// load produces (checked through the DBC bytes the writer makes of them),
// and the refusal of files that are not regular files.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "dbc/dbc_writer.h"
#include "table/dbc_table.h"
#include "table/message_sink.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::DbcBytes;
using testing::Printable;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using namespace std::string_literals;

constexpr char kName[] = "./t.csv";
constexpr char kLoaded[] = "CSV file loaded './t.csv'.\n";
constexpr char kFirstLine[] =
    "ERROR: './t.csv': First line must contain field types (int,float,byte,string).\n";
constexpr char kNoRecords[] = "ERROR: './t.csv': No records found.\n";
constexpr char kHint[] =
    "If is an empty string leave field empty, if is not empty put the text between \".\n";
constexpr float kInf = std::numeric_limits<float>::infinity();

std::string Expected(int fields, int found, int line) {
  return "ERROR: './t.csv': Expected '" + std::to_string(fields) + "' fields not '" +
         std::to_string(found) + "' at line '" + std::to_string(line) + "'.\n";
}

std::string EmptyField(int field, int line) {
  return "ERROR: './t.csv': Empty int/float/byte field '" + std::to_string(field) + "' at line '" +
         std::to_string(line) + "'.\n";
}

std::string Surplus(int line) {
  return "WARNING: './t.csv': Contains more fields than expected at line '" + std::to_string(line) +
         "'. (ignoring).\n";
}

struct Loaded {
  bool ok = false;
  std::string messages;
  std::string dbc;  // the written file, after a successful load
};

// Loads `content` as the bytes of ./t.csv and, if that succeeds, writes the
// table and returns the DBC file.
Loaded Load(std::string_view content) {
  DbcTable table;
  table.fileName = kName;
  StringSink sink;
  Loaded loaded;
  loaded.ok = table.LoadCsvContent(content, sink);
  loaded.messages = sink.Text();
  if (loaded.ok) {
    TempDir dir;
    StringSink writerSink;
    EXPECT_TRUE(WriteDbc(table, dir / "t.csv", writerSink));
    loaded.dbc = ReadFile(dir / "t.csv.dbc");
  }
  return loaded;
}

struct ErrorCase {
  std::string content;
  std::string messages;
};

TEST(CsvLoaderTest, ErrorsCarryTheirNumbers) {
  const std::string s = "'./t.csv'";
  const ErrorCase cases[] = {
      // The header.
      {"", kFirstLine},
      {"in", kFirstLine},
      {"in\r\n1\n", kFirstLine},
      {"\x1a"
       "int\n1\n",
       kFirstLine},
      {"int,float,\n1,2\n", "ERROR: " + s + ": Name of field '3' is empty.\n"},
      {"int,,float\n1,,2\n", "ERROR: " + s + ": Name of field '2' is empty.\n"},
      {",int\n1\n", "ERROR: " + s + ": Name of field '1' is empty.\n"},
      {"Int\n1\n", "ERROR: " + s + ": Unknown field type 'Int'.\n"},
      {"int, float\n1,2\n", "ERROR: " + s + ": Unknown field type ' float'.\n"},
      {"int \n1\n", "ERROR: " + s + ": Unknown field type 'int '.\n"},
      {"\xEF\xBB\xBFint\n1\n", "ERROR: " + s + ": Unknown field type '\xEF\xBB\xBFint'.\n"},
      {"int\rfloat\n1\n", "ERROR: " + s + ": Unknown field type 'int\rfloat'.\n"},
      {"int,bogus,,\n1\n", "ERROR: " + s + ": Unknown field type 'bogus'.\n"},
      {"int", kNoRecords},
      {"int\n", kNoRecords},
      {"int\r\n", kNoRecords},
      {"int\n\x1a\n1\n", kNoRecords},
      // Fields missing or empty.
      {"int,int,int\n1,2\n", Expected(3, 2, 2)},
      {"int,int,int\n1,2,\n", EmptyField(3, 2)},
      {"int,int,int\n1,,3\n", EmptyField(2, 2)},
      {"int,int,int\n,2,3\n", EmptyField(1, 2)},
      {"int,string,int\n1,,\n", Expected(3, 2, 2)},
      {"string,int\n\n", Expected(2, 1, 2)},
      {"int,string\n\n", Expected(2, 0, 2)},
      {"int,int,int\n1\n", Expected(3, 1, 2)},
      {"string,string,int\n\"a\"\n", Expected(3, 2, 2)},  // a String not last: fieldIndex + 1
      {"float\n1\n\n2\n", Expected(1, 0, 3)},             // a blank line is a record
      {"byte\n1\n2\n\n", Expected(1, 0, 4)},              // so are two line feeds at the end
      {"int,int\n1,2,3\n4\n", Surplus(2) + Expected(2, 1, 3)},
      // String fields (zero-based field numbers).
      {"int,string\n1,abc\n", "ERROR: " + s + ": Broken string format 'a' at line '2'.\n" + kHint},
      {"int,string\n1,\"a\"x\n",
       "ERROR: " + s + ": Unexpected end of string in field '1' at line '2'.\n"},
      {"int,string\n1,\"abc\n",
       "ERROR: " + s + ": Missing \" in the end of string in field '1' at line '2'.\n"},
      {"string\n\"a\x1a\"\n",  // byte 26 ends the file inside the string
       "ERROR: " + s + ": Missing \" in the end of string in field '0' at line '2'.\n"},
      {"string\n\"a\"\r",  // a lone carriage return stays in the line
       "ERROR: " + s + ": Unexpected end of string in field '0' at line '2'.\n"},
      {"int,string\r\n1,\"a\"\r\n2,\"b\"\r\n3,x\r\n",
       "ERROR: " + s + ": Broken string format 'x' at line '4'.\n" + kHint},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(Printable(c.content));
    const Loaded loaded = Load(c.content);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(Printable(loaded.messages), Printable(c.messages));
  }
}

// One value of a record, for the expected DBC bytes.
struct Value {
  char kind;
  std::int32_t i;
  float f;
};
Value I(std::int32_t value) { return {'i', value, 0}; }
Value F(float value) { return {'f', 0, value}; }
Value B(std::uint8_t value) { return {'b', value, 0}; }

std::string Dbc(std::uint32_t records, std::uint32_t fields, std::uint32_t recordSize,
                std::initializer_list<Value> values,
                std::string_view block = std::string_view("\0", 1)) {
  DbcBytes bytes;
  bytes.Header(records, fields, recordSize, static_cast<std::uint32_t>(block.size()));
  for (const Value& value : values) {
    if (value.kind == 'i') bytes.Int(value.i);
    if (value.kind == 'f') bytes.Float(value.f);
    if (value.kind == 'b') bytes.Byte(static_cast<std::uint8_t>(value.i));
  }
  return bytes.Raw(block).Str();
}

struct LoadCase {
  std::string content;
  std::string warnings;
  std::string dbc;
};

TEST(CsvLoaderTest, RecordsAndStringBlock) {
  const std::string items = Dbc(2, 3, 12, {I(1), I(1), F(2.5f), I(2), I(0), F(0)}, "\0Sword\0"s);
  const std::string oneTwoThree = Dbc(1, 3, 12, {I(1), I(2), I(3)});
  const std::string oneTwoEmpty = Dbc(1, 3, 12, {I(1), I(2), I(0)});
  const std::string oneTwo = Dbc(1, 2, 8, {I(1), I(2)});
  const std::string oneEmpty = Dbc(1, 2, 8, {I(1), I(0)});
  const std::string emptyString = Dbc(1, 1, 4, {I(0)});
  const std::string oneInt = Dbc(1, 1, 4, {I(1)});

  const LoadCase cases[] = {
      {"int,string,float\n1,\"Sword\",2.5\n2,\"\",0\n", "", items},
      {"int,string,float\r\n1,\"Sword\",2.5\r\n2,\"\",0\r\n", "", items},
      {"int,string,float\n1,\"Sword\",2.5\n2,\"\",0\n\x1a", "", items},
      {"int,string,float\n1,\"Sword\",2.5\n2,,0", "", items},
      {"int,string,float\n7,\"a\",1.5", "", Dbc(1, 3, 12, {I(7), I(1), F(1.5f)}, "\0a\0"s)},
      // Trailing commas and surplus fields.
      {"int,int,int\n1,2,3,4\n", Surplus(2), oneTwoThree},
      {"int,int,string\n1,2\n", "", oneTwoEmpty},
      {"int,int,string\n1,2,\n", "", oneTwoEmpty},
      {"int,int\n1,2,\n", Surplus(2), oneTwo},
      {"int,int\r\n1,2,\"x\"\r\n", Surplus(2), oneTwo},
      {"int,string\n1,,\n", "", oneEmpty},
      {"int,string\n1,,,\n", Surplus(2), oneEmpty},
      {"int,string\n1\n", "", oneEmpty},
      // The single String column: an empty line is a record.
      {"string\n\n", "", emptyString},
      {"string\n,\n", "", emptyString},
      {"string\n,,\n", Surplus(2), emptyString},
      {"string\n\n\n", "", Dbc(2, 1, 4, {I(0), I(0)})},
      // Byte 26 ends the file wherever it stands.
      {"int\n1\n\x1a\n2\n", "", oneInt},
      {"int\n1\x1a"
       "2\n3\n",
       "", oneInt},
      {"int\n1\n2\x1a", "", Dbc(2, 1, 4, {I(1), I(2)})},
      // A lone carriage return is part of the line; bytes pass through.
      {"int\n1\r2\n", "", oneInt},
      {"int,string\n1\r,\"a\rb\"\n", "", Dbc(1, 2, 8, {I(1), I(1)}, "\0a\rb\0"s)},
      {"int,string\n1\0,\"\0\xff\"\n2,\"\0\xff\"\n3,\"\0\"\n"s, "",
       Dbc(3, 2, 8, {I(1), I(1), I(2), I(1), I(3), I(4)}, "\0\0\xff\0\0\0"s)},
      // First-met order, shared offsets, escapes.
      {"int,string,string\n1,\"b\",\"a\"\n2,\"a\",\"c\"\n3,\"b\",\"\"\n4,\"ab\",\"a\"\n", "",
       Dbc(4, 3, 12, {I(1), I(1), I(3), I(2), I(3), I(5), I(3), I(1), I(0), I(4), I(7), I(3)},
           "\0b\0a\0c\0ab\0"s)},
      {"string\n\"x\"\"y\\nz,\\t\"\n", "", Dbc(1, 1, 4, {I(1)}, "\0x\"y\nz,\\t\0"s)},
      // Conversions and the packed layout of mixed widths.
      {"byte,byte,byte,int,int,int,float,float,float,int,float,int\n"
       "256,-1,300,2147483648,1.5,12abc,1d2,abc,1e39,\"5\",  , -7 \n",
       "",
       Dbc(1, 12, 39,
           {B(0), B(255), B(44), I(2147483647), I(1), I(12), F(100), F(0), F(kInf), I(0), F(0),
            I(-7)})},
      // A number ends where its text stops fitting; the rest of its field
      // is ignored up to the comma, wherever that is.
      {"int,float,byte,float,float,int,float,int\n"
       "12abc,1.5e,300x,1e+,1e99999,- 3,0000000000000000000000000000001.25e1x,99999999999\n",
       "", Dbc(1, 8, 29, {I(12), F(1.5f), B(44), F(1), F(kInf), I(0), F(12.5f), I(2147483647)})},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(Printable(c.content));
    const Loaded loaded = Load(c.content);
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(Printable(loaded.messages), Printable(c.warnings + kLoaded));
    EXPECT_EQ(Printable(loaded.dbc), Printable(c.dbc));
  }
}

// The backslash escapes, on the fast path (a plain line) and on the general
// one (taken for the same line with a surplus field): both must read them
// alike, a backslash before the letter n or r written \\n and \\r.
TEST(CsvLoaderTest, EscapesReadAlikeOnBothPaths) {
  const struct {
    std::string field;
    std::string value;
  } cases[] = {
      {R"("dir\\noname.mdx")", R"(dir\noname.mdx)"},
      {R"("x\\ry")", R"(x\ry)"},
      {R"("a\\\nb")", R"(a\\nb)"},
      {R"("p\\q")", R"(p\\q)"},
      {R"("\\server\share")", R"(\\server\share)"},
      {R"("a\\")", R"(a\\)"},
      {R"("\n\r\t")", "\n\r\\t"},
      {R"("""\\n""")", R"("\n")"},
  };
  for (const auto& c : cases) {
    for (const std::string surplus : {"", ",9"}) {
      SCOPED_TRACE(c.field + surplus);
      const Loaded loaded = Load("string,int\n" + c.field + ",7" + surplus + "\n");
      EXPECT_EQ(loaded.messages, (surplus.empty() ? "" : Surplus(2)) + kLoaded);
      EXPECT_EQ(Printable(loaded.dbc),
                Printable(Dbc(1, 2, 8, {I(1), I(7)}, "\0"s + c.value + '\0')));
    }
  }
}

TEST(CsvLoaderTest, WarningsNameTheirLines) {
  const Loaded loaded = Load("int\n1\n2,x\n\"3\"\n4,,\n");
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.messages, Surplus(3) + Surplus(5) + kLoaded);
}

// Many strings, some prefixes of others, repeated in random order: the
// block must hold each once, in first-met order, as an ordered map would.
TEST(CsvLoaderTest, DeduplicationMatchesAnOrderedMap) {
  std::mt19937 random(7);
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string word = "w" + std::to_string(i);
    word.append(static_cast<std::size_t>(i % 53), static_cast<char>('a' + i % 26));
    words.push_back(word);
    words.push_back(word.substr(0, word.size() / 2 + 1));
  }
  std::string csv = "string,int,string\n";
  std::map<std::string, std::int32_t> model;
  std::string block(1, '\0');
  std::vector<std::int32_t> expected;
  auto intern = [&](const std::string& word) {
    auto [it, added] = model.emplace(word, static_cast<std::int32_t>(block.size()));
    if (added) block += word + '\0';
    return it->second;
  };
  const int records = 20000;
  for (int r = 0; r < records; ++r) {
    const std::string& a = words[random() % words.size()];
    const std::string& b = words[random() % (r < 100 ? 10 : words.size())];
    csv += "\"" + a + "\"," + std::to_string(r) + ",\"" + b + "\"\n";
    expected.push_back(intern(a));
    expected.push_back(intern(b));
  }
  DbcTable table;
  table.fileName = kName;
  StringSink sink;
  ASSERT_TRUE(table.LoadCsvContent(csv, sink));
  ASSERT_EQ(table.recordCount, records);
  EXPECT_EQ(table.stringBlockSize, static_cast<std::int32_t>(block.size()));
  EXPECT_TRUE(std::string_view(table.stringBlock) == block);
  for (int r = 0; r < records; ++r) {
    ASSERT_EQ(*table.intValues.Find(r, 0), expected[2 * r]) << "record " << r;
    ASSERT_EQ(*table.intValues.Find(r, 1), r);
    ASSERT_EQ(*table.intValues.Find(r, 2), expected[2 * r + 1]) << "record " << r;
  }
}

// The room for the records is guessed from the first lines: a table whose
// later lines are far shorter outgrows it, many times over, and must keep
// every record.
TEST(CsvLoaderTest, RecordsPastTheRoomGuessedFromTheFirstLinesAreKept) {
  std::string csv = "int,string\n";
  const int records = 20000;
  for (int r = 0; r < records; ++r) {
    csv += std::to_string(r) + (r < 64 ? ",\"" + std::string(1000, 'x') + "\"\n" : ",\n");
  }
  DbcTable table;
  table.fileName = kName;
  StringSink sink;
  ASSERT_TRUE(table.LoadCsvContent(csv, sink));
  ASSERT_EQ(table.recordCount, records);
  for (int r = 0; r < records; ++r) {
    ASSERT_EQ(*table.intValues.Find(r, 0), r);
    ASSERT_EQ(*table.intValues.Find(r, 1), r < 64 ? 1 : 0) << "record " << r;
  }
  EXPECT_FALSE(table.intValues.Find(records, 0).has_value());
}

// A small file that declares many columns and holds many short lines must
// fail with its message, not ask for values for every column of every line.
TEST(CsvLoaderTest, ManyColumnsAndManyShortLinesFailCheaply) {
  const int columns = 200001;
  std::string header;
  for (int i = 1; i < columns; ++i) header += "int,";
  header += "int\n";
  std::string valid;
  for (int i = 1; i < columns; ++i) valid += "1,";
  valid += "1\n";
  const std::string emptyLines(200000, '\n');
  EXPECT_EQ(Load(header + emptyLines).messages, Expected(columns, 0, 2));
  EXPECT_EQ(Load(header + valid + valid + "1,2\n" + emptyLines).messages, Expected(columns, 2, 4));
  const Loaded loaded = Load(header + valid + valid);
  EXPECT_EQ(loaded.messages, kLoaded);
  EXPECT_EQ(loaded.dbc.size(), 20 + 2 * 4 * static_cast<std::size_t>(columns) + 1);
}

// ---- Loading from a file ------------------------------------------------

std::string LoadFile(const std::string& path, bool* ok = nullptr) {
  DbcTable table;
  StringSink sink;
  const bool result = table.LoadCsv(path, sink);
  if (ok) *ok = result;
  return sink.Text();
}

TEST(CsvLoaderFileTest, LoadsARegularFileWhole) {
  TempDir dir;
  std::string csv = "int,string\n";
  for (int i = 0; i < 200000; ++i) csv += std::to_string(i) + ",\"s\"\n";
  const std::string path = dir / "big.csv";
  WriteFile(path, csv);
  DbcTable table;
  StringSink sink;
  ASSERT_TRUE(table.LoadCsv(path, sink));
  EXPECT_EQ(sink.Text(), "Loading file '" + path + "'.\nCSV file loaded '" + path + "'.\n");
  EXPECT_EQ(table.fileName, path);
  ASSERT_EQ(table.recordCount, 200000);
  EXPECT_EQ(*table.intValues.Find(199999, 0), 199999);
}

TEST(CsvLoaderFileTest, ContentErrorsFollowTheLoadingMessage) {
  TempDir dir;
  const std::string path = dir / "empty.csv";
  WriteFile(path, "");
  bool ok = true;
  EXPECT_EQ(LoadFile(path, &ok),
            "Loading file '" + path + "'.\nERROR: '" + path +
                "': First line must contain field types (int,float,byte,string).\n");
  EXPECT_FALSE(ok);
}

#ifndef _WIN32
// Symbolic links, FIFOs and fork are POSIX; the Windows refusals (folders,
// device names) are in tests/platform/platform_windows_test.cc.
TEST(CsvLoaderFileTest, WhatCannotBeReadIsRefusedBeforeLoading) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "dir.csv").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("nowhere.csv", (dir / "dangling.csv").c_str()), 0);
  ASSERT_EQ(::symlink("dir.csv", (dir / "linked.csv").c_str()), 0);
  for (const char* name : {"missing.csv", "dir.csv", "dangling.csv", "linked.csv"}) {
    const std::string path = dir / name;
    bool ok = true;
    EXPECT_EQ(LoadFile(path, &ok), "ERROR: Can't open file '" + path + "'.\n");
    EXPECT_FALSE(ok);
  }
}

TEST(CsvLoaderFileTest, FifoIsRefusedWithoutBlocking) {
  TempDir dir;
  const std::string path = dir / "x.csv";
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  // In a child with an alarm, so that a blocking open fails the test
  // instead of hanging it.
  const auto messages = testing::RunInChild([&] {
    ::alarm(10);
    bool ok = true;
    const std::string text = LoadFile(path, &ok);
    return ok ? "loaded\n" : text;
  });
  EXPECT_EQ(messages, "ERROR: Can't open file '" + path + "'.\n");
}

// A mapped file cut short by another program while it is read: what the
// parser would make of the vanished part (zeros) is not the file's, so the
// failed read alone is reported. The file is cut as soon as the load has
// mapped it, by the sink that receives "Loading file".
TEST(CsvLoaderFileTest, FileCutShortWhileReadReportsTheFailedReadAlone) {
  TempDir dir;
  const std::string path = dir / "t.csv";
  std::string csv = "int,int,int\n";
  while (csv.size() < (1u << 20)) csv += "1,2,3\n";
  WriteFile(path, csv);
  class CuttingSink final : public MessageSink {
   public:
    explicit CuttingSink(std::string path) : path_(std::move(path)) {}
    void Write(std::string_view text) override {
      text_.append(text);
      // "int,int,int\n1,2": the rest, zeros, would lack a field.
      if (!cut_) cut_ = ::truncate(path_.c_str(), 15) == 0;
    }
    std::string text_;

   private:
    std::string path_;
    bool cut_ = false;
  } sink(path);
  DbcTable table;
  EXPECT_FALSE(table.LoadCsv(path, sink));
  EXPECT_EQ(sink.text_, "Loading file '" + path + "'.\nERROR: Can't open file '" + path + "'.\n");
  // The next mapped file starts clean.
  WriteFile(path, csv);
  StringSink next;
  EXPECT_TRUE(DbcTable().LoadCsv(path, next)) << next.Text();
}
#endif  // _WIN32

}  // namespace
}  // namespace dbcpack
