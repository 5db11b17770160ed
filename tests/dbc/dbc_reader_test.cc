// The DBC reader: every way a file is refused, with its exact message; the
// files read with a warning; and that no file, cut short anywhere or with
// any header, is read outside its bytes.
#include "dbc/dbc_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "table/message_sink.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::DbcBytes;
using testing::Printable;
using T = FieldType;

constexpr char kName[] = "./t.dbc";
constexpr std::string_view kNul("\0", 1);

// An int, a byte and a string field: "Sword" and "" in two records.
std::string GoodFile() {
  return DbcBytes()
      .Header(2, 3, 9, 7)
      .Int(1)
      .Byte(7)
      .Int(1)
      .Int(2)
      .Byte(255)
      .Int(0)
      .Raw(std::string_view("\0Sword\0", 7))
      .Str();
}

// The bytes in an allocation of exactly their size, so that the sanitizer
// reports a read one byte past them.
struct ExactBytes {
  explicit ExactBytes(std::string_view bytes) : data(new char[bytes.size()]), size(bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), data.get());
  }
  std::string_view View() const { return std::string_view(data.get(), size); }
  std::unique_ptr<char[]> data;
  std::size_t size;
};

std::string Read(std::string_view bytes, TableImage& table) {
  const ExactBytes exact(bytes);
  StringSink sink;
  const bool ok = ReadDbc(exact.View(), kName, table, sink);
  EXPECT_EQ(ok, sink.Text().rfind("ERROR", 0) != 0) << sink.Text();
  // The views point into the copy, which is gone: only their sizes remain.
  return sink.Text();
}

TEST(DbcReaderTest, RefusesWhatCannotBeATable) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  const Case cases[] = {
      {"other magic", DbcBytes().Raw("WDB2").Int(0).Int(1).Int(4).Int(1).Raw(kNul).Str(),
       "Not a DBC file: it does not start with WDBC."},
      {"text", "int,string\n1,\"a\"\n", "Not a DBC file: it does not start with WDBC."},
      {"empty", "", "File is shorter than a DBC header ('0' of '20' bytes)."},
      {"header cut", GoodFile().substr(0, 19),
       "File is shorter than a DBC header ('19' of '20' bytes)."},
      {"no fields", DbcBytes().Header(0, 0, 0, 1).Raw(kNul).Str(), "Header declares no fields."},
      {"too many fields", DbcBytes().Header(0, 0x100001, 0x100001, 1).Raw(kNul).Str(),
       "Header declares '1048577' fields, more than the '1048576' a table may have."},
      {"record too small", DbcBytes().Header(1, 3, 2, 1).Raw(std::string_view("ab\0", 3)).Str(),
       "Record size '2' is smaller than the field count '3'."},
      {"record too large", DbcBytes().Header(1, 1, 5, 1).Raw(std::string_view("abcde\0", 6)).Str(),
       "Record size '5' is larger than 4 bytes for each of the '1' fields."},
      {"no mix of widths", DbcBytes().Header(1, 2, 6, 1).Raw(std::string_view("abcdef\0", 7)).Str(),
       "Record size '6' cannot be made of '2' fields of 1 or 4 bytes."},
      {"records cut", GoodFile().substr(0, 30),
       "Header declares '2' records of '9' bytes and a '7'-byte string block, '45' bytes with "
       "the header, but the file holds '30'."},
      {"block cut", GoodFile().substr(0, 44),
       "Header declares '2' records of '9' bytes and a '7'-byte string block, '45' bytes with "
       "the header, but the file holds '44'."},
      {"largest counts",
       DbcBytes().Header(0xFFFFFFFF, 0x100000, 0x400000, 0xFFFFFFFF).Raw(kNul).Str(),
       "Header declares '4294967295' records of '4194304' bytes and a '4294967295'-byte "
       "string block, '18014402800254995' bytes with the header, but the file holds '21'."},
      {"block of 0 bytes", DbcBytes().Header(1, 1, 4, 0).Int(0).Str(),
       "String block does not start with a NUL byte."},
      {"block without its NUL",
       DbcBytes().Header(1, 1, 4, 2).Int(0).Raw(std::string_view("a\0", 2)).Str(),
       "String block does not start with a NUL byte."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableImage table;
    EXPECT_EQ(Read(c.bytes, table), "ERROR: './t.dbc': " + std::string(c.message) + "\n");
  }
}

// What is read with a warning, as dbcunpack reads it: ReadDbc, then the
// string block settled under the types, then the string fields checked.
TEST(DbcReaderTest, ReadsWithAWarningWhatIsStillUnambiguous) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<FieldType> types;
    std::string block;  // as read
    const char* messages;
  };
  const std::string one = DbcBytes().Header(1, 1, 4, 4).Int(1).Str();
  const std::string at5 = DbcBytes().Header(1, 1, 4, 4).Int(5).Str();
  const std::string at6 = DbcBytes().Header(1, 1, 4, 4).Int(6).Str();
  const std::string at4and7 = DbcBytes().Header(2, 1, 4, 4).Int(4).Int(7).Str();
  const Case cases[] = {
      {"bytes after the block",
       one + std::string("\0ab\0xyz", 7),
       {T::Int},
       std::string("\0ab\0", 4),
       "WARNING: './t.dbc': File holds '3' bytes after its string block; they are left out.\n"},
      {"block ends inside a string",
       one + std::string("\0abcd\0", 6),
       {T::String},
       std::string("\0abcd\0", 6),
       "WARNING: './t.dbc': String block of '4' bytes ends inside a string; it is read through "
       "the NUL that ends it, '2' bytes further.\n"},
      {"both",
       one + std::string("\0abc\0\0z", 7),
       {T::Int},
       std::string("\0abc\0", 5),
       "WARNING: './t.dbc': String block of '4' bytes ends inside a string; it is read through "
       "the NUL that ends it, '1' bytes further.\n"
       "WARNING: './t.dbc': File holds '2' bytes after its string block; they are left out.\n"},
      {"unended string at the end of the file",
       one + std::string("\0abc", 4),
       {T::Int},
       std::string("\0abc", 4),
       ""},
      {"no records",
       DbcBytes().Header(0, 2, 5, 1).Raw(kNul).Str(),
       {T::Int, T::Byte},
       std::string(kNul),
       ""},
      // Offsets past the block, each at a string start: the header
      // under-states the block.
      {"strings after the block",
       at4and7 + std::string("\0ab\0xy\0zw\0--", 12),
       {T::String},
       std::string("\0ab\0xy\0zw\0", 10),
       "WARNING: './t.dbc': Header under-states the string block: records point at strings "
       "after its '4' bytes, so it is read as '10' bytes.\n"
       "WARNING: './t.dbc': File holds '2' bytes after its string block; they are left out.\n"},
      {"and one cut inside a string",
       at5 + std::string("\0abc\0x\0", 7),
       {T::String},
       std::string("\0abc\0x\0", 7),
       "WARNING: './t.dbc': String block of '4' bytes ends inside a string; it is read through "
       "the NUL that ends it, '1' bytes further.\n"
       "WARNING: './t.dbc': Header under-states the string block: records point at strings "
       "after its '5' bytes, so it is read as '7' bytes.\n"},
      // Not a string start, or no NUL after it: the block stays as declared.
      {"inside a string after the block",
       at6 + std::string("\0ab\0xyz\0", 8),
       {T::String},
       std::string("\0ab\0", 4),
       "WARNING: './t.dbc': File holds '4' bytes after its string block; they are left out.\n"
       "ERROR: './t.dbc': Record '1', field '1': string offset '6' lies outside the '4'-byte "
       "string block.\n"},
      {"unended string after the block",
       at6 + std::string("\0abc\0xy", 7),
       {T::String},
       std::string("\0abc\0", 5),
       "WARNING: './t.dbc': String block of '4' bytes ends inside a string; it is read through "
       "the NUL that ends it, '1' bytes further.\n"
       "WARNING: './t.dbc': File holds '2' bytes after its string block; they are left out.\n"
       "ERROR: './t.dbc': Record '1', field '1': string offset '6' lies outside the '5'-byte "
       "string block.\n"},
      {"the same offsets read as ints",
       at4and7 + std::string("\0ab\0xy\0zw\0", 10),
       {T::Int},
       std::string("\0ab\0", 4),
       "WARNING: './t.dbc': File holds '6' bytes after its string block; they are left out.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableImage table;
    StringSink sink;
    ASSERT_TRUE(ReadDbc(c.bytes, kName, table, sink));
    SettleStringBlock(table, c.types, kName, sink);
    (void)CheckStringFields(table, c.types, kName, sink);
    EXPECT_EQ(sink.Text(), c.messages);
    EXPECT_EQ(Printable(table.stringBlock), Printable(c.block));
  }
}

TEST(DbcReaderTest, ReadsAValidFileAndRefusesEveryCutOfIt) {
  const std::string file = GoodFile();
  TableImage table;
  StringSink sink;
  ASSERT_TRUE(ReadDbc(file, kName, table, sink));
  EXPECT_EQ(sink.Text(), "");
  EXPECT_EQ(table.recordCount, 2u);
  EXPECT_EQ(table.fieldCount, 3u);
  EXPECT_EQ(table.recordSize, 9u);
  EXPECT_EQ(Printable(table.records), Printable(file.substr(20, 18)));
  EXPECT_EQ(Printable(table.stringBlock), Printable(file.substr(38)));
  for (std::size_t size = 0; size < file.size(); ++size) {
    SCOPED_TRACE(size);
    TableImage cut;
    const std::string text = Read(file.substr(0, size), cut);
    EXPECT_EQ(text.rfind("ERROR: './t.dbc': ", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  }
}

// Headers of every kind over a short body: a file is either refused with
// one error or its records and block lie inside it, end to end.
TEST(DbcReaderTest, NoHeaderLeadsOutsideTheFile) {
  std::mt19937 random(7);
  const std::uint32_t small[] = {0, 1, 2, 3, 4, 5, 8, 9, 12, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  const auto count = [&]() -> std::uint32_t {
    return random() % 2 ? small[random() % std::size(small)]
                        : static_cast<std::uint32_t>(random() % 40);
  };
  for (int i = 0; i < 20000; ++i) {
    std::string body(random() % 48, '\0');
    for (char& c : body) c = random() % 3 ? '\0' : static_cast<char>(random());
    const std::string file = DbcBytes().Header(count(), count(), count(), count()).Raw(body).Str();
    const ExactBytes exact(file);
    TableImage table;
    StringSink sink;
    if (!ReadDbc(exact.View(), kName, table, sink)) {
      EXPECT_EQ(sink.Text().find('\n'), sink.Text().size() - 1) << sink.Text();
      continue;
    }
    const char* const begin = exact.data.get();
    EXPECT_EQ(table.records.data(), begin + 20);
    EXPECT_EQ(table.records.size(), std::size_t{table.recordCount} * table.recordSize);
    EXPECT_EQ(table.stringBlock.data(), table.records.data() + table.records.size());
    EXPECT_LE(table.stringBlock.data() + table.stringBlock.size(), begin + exact.size);
    ASSERT_FALSE(table.stringBlock.empty());
    EXPECT_EQ(table.stringBlock[0], '\0');
  }
}

TEST(DbcReaderTest, TypesMustGiveTheFieldsAndTheRecordSize) {
  TableImage table;
  table.fieldCount = 3;
  table.recordSize = 9;
  StringSink sink;
  EXPECT_TRUE(CheckTypesFit(table, {T::Int, T::Byte, T::String}, kName, sink));
  EXPECT_TRUE(CheckTypesFit(table, {T::Byte, T::Float, T::Int}, kName, sink));
  EXPECT_EQ(sink.Text(), "");
  EXPECT_FALSE(CheckTypesFit(table, {T::Int, T::Int, T::Int}, kName, sink));
  EXPECT_FALSE(CheckTypesFit(table, {T::Int, T::Int, T::Byte, T::Byte}, kName, sink));
  EXPECT_EQ(sink.Text(),
            "ERROR: './t.dbc': The types give '3' fields and '12'-byte records; the file has '3' "
            "fields and '9'-byte records.\n"
            "ERROR: './t.dbc': The types give '4' fields and '10'-byte records; the file has '3' "
            "fields and '9'-byte records.\n");
}

TEST(DbcReaderTest, StringOffsetsMustStartInsideTheBlockAndEndThere) {
  struct Case {
    const char* name;
    std::uint32_t offset;
    std::string block;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {"empty string", 0, std::string("\0ab\0", 4), nullptr},
      {"first string", 1, std::string("\0ab\0", 4), nullptr},
      {"inside a string", 2, std::string("\0ab\0", 4), nullptr},
      {"the last NUL", 3, std::string("\0ab\0", 4), nullptr},
      {"just past the block", 4, std::string("\0ab\0", 4),
       "Record '2', field '3': string offset '4' lies outside the '4'-byte string block."},
      {"far past the block", 0xFFFFFFFF, std::string("\0ab\0", 4),
       "Record '2', field '3': string offset '4294967295' lies outside the '4'-byte string "
       "block."},
      {"not ended", 1, std::string("\0ab", 3),
       "Record '2', field '3': the string at offset '1' is not ended by a NUL before the string "
       "block ends."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string records = DbcBytes().Int(5).Byte(0).Int(0).Int(6).Byte(0).Int(c.offset).Str();
    TableImage table{2, 3, 9, records, c.block, {}};
    StringSink sink;
    EXPECT_EQ(CheckStringFields(table, {T::Int, T::Byte, T::String}, kName, sink), !c.message);
    EXPECT_EQ(sink.Text(), c.message ? "ERROR: './t.dbc': " + std::string(c.message) + "\n" : "");
    // Read as ints, the same values are not offsets and need no check.
    sink.Clear();
    EXPECT_TRUE(CheckStringFields(table, {T::Int, T::Byte, T::Int}, kName, sink));
  }
}

}  // namespace
}  // namespace dbcpack
