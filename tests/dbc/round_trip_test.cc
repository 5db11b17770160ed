// The round trip as one property over generated tables: a canonical DBC
// file, built here byte by byte, unpacked with WriteCsv must pack back to
// the same bytes, and CheckRoundTrip must say so; files that no CSV text
// can give (a string block laid out otherwise, bytes after it, a field
// changed under the text, strings the dialect cannot carry) must not be
// called exact, and the difference must be the one made.
#include "dbc/round_trip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dbc/dbc_encoder.h"
#include "dbc/dbc_reader.h"
#include "table/csv_writer.h"
#include "table/dbc_table.h"
#include "table/encoding.h"
#include "table/message_sink.h"
#include "table/number_parse.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using Row = std::vector<std::string>;  // strings, or the four or one bytes of a number

struct Table {
  std::vector<FieldType> types;
  std::vector<Row> rows;
};

enum class Layout { Canonical, UnusedString, SecondCopy, Reversed, BytesAfter, UnderStated };

// Zeros, infinities, the smallest denormal, FLT_MIN and FLT_MAX with both
// signs; short decimals; any bit pattern but a NaN.
std::uint32_t RandomFloatBits(std::mt19937_64& random) {
  const std::uint32_t kSpecial[] = {0, 0x7F800000u, 1, 0x00800000u, 0x7F7FFFFFu};
  switch (random() % 3) {
    case 0:
      return kSpecial[random() % 5] | (random() % 2 == 0 ? 0 : 0x80000000u);
    case 1:
      return std::bit_cast<std::uint32_t>(
          ParseFloat(std::to_string(random() % 20000) + "e-" + std::to_string(random() % 6)));
    default:
      for (;;) {
        const auto bits = static_cast<std::uint32_t>(random());
        if ((bits & 0x7FFFFFFFu) <= 0x7F800000u) return bits;
      }
  }
}

// Quotes, commas, line breaks, backslashes, control and high bytes; half
// the strings mostly backslashes, the letters n and r and line breaks, but
// never a backslash right before a line break, which no text can carry.
// Every fifth string empty.
std::string RandomString(std::mt19937_64& random) {
  static const std::string kBytes = std::string("abcnr ,\"\n\r\\\t\x01\x7F\x80\xC3\xA9\xFF");
  static const std::string kBackslashes = "\\\\\\nr\n\r\"";
  const std::string& bytes = random() % 2 == 0 ? kBytes : kBackslashes;
  std::string text;
  if (random() % 5 == 0) return text;
  const std::size_t length = 1 + random() % 12;
  for (std::size_t i = 0; i < length; ++i) text += bytes[random() % bytes.size()];
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && text[i + 1] == '\n') text[i + 1] = 'n';
    if (text[i] == '\\' && text[i + 1] == '\r') text[i + 1] = 'r';
  }
  return text;
}

Table RandomTable(std::mt19937_64& random) {
  const FieldType kTypes[] = {FieldType::Int, FieldType::Float, FieldType::Byte, FieldType::String};
  Table table;
  const std::size_t fields = 1 + random() % 6;
  for (std::size_t k = 0; k < fields; ++k) table.types.push_back(kTypes[random() % 4]);
  std::vector<std::string> strings(1 + random() % 8);  // a small pool: strings repeat
  for (std::string& s : strings) s = RandomString(random);
  const std::size_t records = 1 + random() % 20;
  for (std::size_t r = 0; r < records; ++r) {
    Row row;
    for (const FieldType type : table.types) {
      std::string bytes(4, '\0');
      if (type == FieldType::String) {
        bytes = strings[random() % strings.size()];
      } else if (type == FieldType::Byte) {
        bytes = std::string(1, static_cast<char>(random()));
      } else {
        const bool small = random() % 2 == 0;
        const auto value = type == FieldType::Float ? RandomFloatBits(random)
                           : small                  ? static_cast<std::uint32_t>(random() % 200)
                                                    : static_cast<std::uint32_t>(random());
        PutFixed32(bytes.data(), value);
      }
      row.push_back(bytes);
    }
    table.rows.push_back(row);
  }
  return table;
}

// What Layout::UnusedString adds to the block: a string, or a lone NUL.
std::string UnusedTail(const Table& table) {
  return table.rows.size() % 2 == 0 ? std::string("unused\0", 7) : std::string(1, '\0');
}

// The DBC file of `table`, its string block laid out as `layout` says.
std::string BuildDbc(const Table& table, Layout layout) {
  std::map<std::string, std::uint32_t> offsets;
  std::vector<std::string> order;  // distinct non-empty strings, in the order of first use
  for (const Row& row : table.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (table.types[k] == FieldType::String && !row[k].empty() && !offsets.count(row[k])) {
        offsets[row[k]] = 0;
        order.push_back(row[k]);
      }
    }
  }
  if (layout == Layout::Reversed) std::reverse(order.begin(), order.end());
  std::string block(1, '\0');
  for (const std::string& s : order) {
    offsets[s] = static_cast<std::uint32_t>(block.size());
    block += s + '\0';
  }
  if (layout == Layout::UnusedString) block += UnusedTail(table);
  // SecondCopy: the first string used again points at a copy of its own
  // at the end of the block.
  std::string records;
  std::map<std::string, int> uses;
  bool copied = false;
  for (const Row& row : table.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (table.types[k] != FieldType::String) {
        records += row[k];
        continue;
      }
      std::uint32_t offset = row[k].empty() ? 0 : offsets[row[k]];
      if (layout == Layout::SecondCopy && offset != 0 && uses[row[k]]++ == 1 && !copied) {
        offset = static_cast<std::uint32_t>(block.size());
        block += row[k] + '\0';
        copied = true;
      }
      char bytes[4];
      PutFixed32(bytes, offset);
      records.append(bytes, 4);
    }
  }
  std::string file(kDbcHeaderSize, '\0');
  PutFixed32(file.data(), 0x43424457u);
  PutFixed32(file.data() + 4, static_cast<std::uint32_t>(table.rows.size()));
  PutFixed32(file.data() + 8, static_cast<std::uint32_t>(table.types.size()));
  PutFixed32(file.data() + 12, static_cast<std::uint32_t>(RecordSizeOf(table.types)));
  // UnderStated: the header's block ends after the first string.
  const std::size_t declared =
      layout == Layout::UnderStated && !order.empty() ? order[0].size() + 2 : block.size();
  PutFixed32(file.data() + 16, static_cast<std::uint32_t>(declared));
  return file + records + block + (layout == Layout::BytesAfter ? "xyz" : "");
}

// The file as dbcunpack reads it, its string block settled under `types`.
TableImage View(std::string_view file, const std::vector<FieldType>& types) {
  TableImage image;
  StringSink ignored;
  EXPECT_TRUE(ReadDbc(file, "t.dbc", image, ignored));
  SettleStringBlock(image, types, "t.dbc", ignored);
  return image;
}

struct Unpacked {
  bool written;
  std::string csv;
  std::string messages;
};

Unpacked Unpack(std::string_view file, const std::vector<FieldType>& types) {
  platform::LargeString out;
  StringSink sink;
  const bool written = WriteCsv(View(file, types), types, "t.dbc", out, sink);
  return {written, std::string(out.data(), out.size()), sink.Text()};
}

RoundTrip Check(const std::string& csv, std::string_view file, const Table& table) {
  return CheckRoundTrip(csv, file, View(file, table.types), table.types);
}

// What the loader and the encoder make of the text, as dbcpack packs it;
// the load must not say a word but that it loaded.
std::string Repack(const std::string& csv) {
  DbcTable table;
  table.fileName = "t.csv";
  StringSink sink;
  if (!table.LoadCsvContent(csv, sink)) return "refused: " + sink.Text();
  if (sink.Text() != "CSV file loaded 't.csv'.\n") return "loaded with: " + sink.Text();
  std::string bytes;
  const EncodedDbc encoded = EncodeDbc(table.Image());
  for (const std::string_view piece : encoded.Pieces()) bytes += piece;
  return bytes;
}

// A layout that differs from the canonical one must not be called exact.
void ExpectNotExact(const Table& table, Layout layout, const std::string& difference) {
  const std::string file = BuildDbc(table, layout);
  if (file == BuildDbc(table, Layout::Canonical)) return;  // no string to lay out otherwise
  const Unpacked unpacked = Unpack(file, table.types);
  ASSERT_TRUE(unpacked.written);
  const RoundTrip result = Check(unpacked.csv, file, table);
  EXPECT_FALSE(result.exact);
  EXPECT_NE(result.difference.find(difference), std::string::npos) << result.difference;
}

// An int of the file changed under the text: the first and only
// difference, named with both values.
void ExpectChangedIntNamed(const Table& table, const std::string& csv) {
  std::size_t at = kDbcHeaderSize;
  for (std::size_t k = 0; k < table.types.size(); ++k) {
    if (table.types[k] == FieldType::Int) {
      std::string file = BuildDbc(table, Layout::Canonical);
      const std::int32_t before = DecodeInt32(file.data() + at);
      PutInt32(file.data() + at, before ^ 0x40000000);
      EXPECT_EQ(Check(csv, file, table).difference,
                "record '1', field '" + std::to_string(k + 1) + "' is " +
                    std::to_string(before ^ 0x40000000) + " in the file and " +
                    std::to_string(before) + " after packing");
      return;
    }
    at += static_cast<std::size_t>(FieldTypeWidth(table.types[k]));
  }
}

TEST(RoundTripTest, GeneratedTablesPackBackToTheSameBytes) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 400 && !HasFailure(); ++i) {
    const Table table = RandomTable(random);
    const std::string file = BuildDbc(table, Layout::Canonical);
    const Unpacked unpacked = Unpack(file, table.types);
    SCOPED_TRACE(testing::Printable(unpacked.csv));
    ASSERT_TRUE(unpacked.written);
    EXPECT_EQ(unpacked.messages, "");
    const RoundTrip result = Check(unpacked.csv, file, table);
    EXPECT_TRUE(result.exact) << result.difference;
    EXPECT_EQ(result.difference, "");
    EXPECT_TRUE(Repack(unpacked.csv) == file);

    const std::string laidOut =
        "the same strings behind every offset, but the string block is "
        "laid out differently: ";
    ExpectNotExact(table, Layout::UnusedString,
                   laidOut + "it holds strings no record uses ('" +
                       std::to_string(UnusedTail(table).size()) + "' of");
    ExpectNotExact(table, Layout::BytesAfter,
                   "the file is longer than its header says: '3' bytes follow the string block");
    ExpectNotExact(table, Layout::SecondCopy, laidOut + "its strings are not stored once each");
    ExpectNotExact(table, Layout::Reversed,
                   laidOut + "its strings are not stored in the order of first use");
    ExpectNotExact(table, Layout::UnderStated, "the file's header under-states its string block");
    ExpectChangedIntNamed(table, unpacked.csv);
    if (table.rows.size() > 1) {
      const std::string fewer =
          unpacked.csv.substr(0, unpacked.csv.rfind('\n', unpacked.csv.size() - 2) + 1);
      EXPECT_EQ(Check(fewer, file, table).difference,
                "the record count is '" + std::to_string(table.rows.size()) +
                    "' in the file and '" + std::to_string(table.rows.size() - 1) +
                    "' after packing");
    }
  }
}

// Values a CSV table cannot carry, put into generated tables: a NaN stops
// the writing; a backslash right before a line break, or a byte 26, is
// written as it is, with one warning for the column however many records
// hold it, and the round trip is never exact: its difference must show the
// byte that differs even where both strings show as the same text.
TEST(RoundTripTest, ValuesTheDialectCannotCarry) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 200 && !HasFailure(); ++i) {
    Table table = RandomTable(random);
    const std::size_t r = random() % table.rows.size();
    const std::size_t k = random() % table.types.size();
    const std::string field = "field '" + std::to_string(k + 1) + "'";
    const std::string record = "record '" + std::to_string(r + 1) + "'";
    const FieldType type = table.types[k];
    std::string expected;
    std::string difference;
    if (type == FieldType::Float) {
      PutFixed32(table.rows[r][k].data(), 0x7FC00001u);
      expected = "ERROR: 't.dbc': Record '" + std::to_string(r + 1) + "', " + field +
                 " holds a NaN float (bits 0x7FC00001), which a CSV table cannot carry; give that "
                 "field the type int with --types.\n";
    } else if (type == FieldType::String) {
      const bool lineBreak = i % 2 == 0;
      const std::string value = !lineBreak ? "a\x1A" : random() % 2 ? "a\\\n" : "\\\r";
      std::size_t count = 0;
      for (std::size_t rr = r; rr < table.rows.size(); ++rr) {
        if (rr != r && random() % 2 == 0) continue;
        table.rows[rr][k] = value;
        ++count;
      }
      expected = "WARNING: 't.dbc': Field '" + std::to_string(k + 1) + "': '" +
                 std::to_string(count) + (count == 1 ? "' record holds " : "' records hold ") +
                 (lineBreak ? "a backslash right before a line break, which the CSV text cannot "
                              "carry"
                            : "a byte 26, which ends a CSV text file") +
                 " (the first is " + record + ").\n";
      const std::string shown = value.size() == 3 ? "\"a\\\\n\"" : "\"\\\\r\"";
      const std::string bytes = value.size() == 3 ? "byte '3' of the string is 0x0A in the file "
                                                    "and 0x6E after packing)"
                                                  : "byte '2' of the string is 0x0D in the file "
                                                    "and 0x72 after packing)";
      difference = lineBreak
                       ? record + ", " + field + " is " + shown + " in the file and " + shown +
                             " after packing (" + bytes
                       : "dbcpack refuses the CSV text: Missing \" in the end of string "
                         "in field '" +
                             std::to_string(k) + "' at line '" + std::to_string(r + 2) +
                             "' (that is " + field + ", counting from 1 as the other messages do)";
    } else {
      continue;
    }
    const std::string file = BuildDbc(table, Layout::Canonical);
    const Unpacked unpacked = Unpack(file, table.types);
    EXPECT_EQ(unpacked.messages, expected);
    EXPECT_EQ(unpacked.written, type != FieldType::Float);
    if (!unpacked.written) continue;
    const RoundTrip result = Check(unpacked.csv, file, table);
    EXPECT_FALSE(result.exact);
    EXPECT_EQ(result.difference.substr(0, difference.size()), difference);
  }
  Table empty;
  empty.types = {FieldType::Int};
  const std::string file = BuildDbc(empty, Layout::Canonical);
  EXPECT_EQ(Check(Unpack(file, empty.types).csv, file, empty).difference,
            "dbcpack refuses the CSV text: No records found");
}

// A table large enough to be written by two threads: its text comes in two
// pieces that pack back, as they are and joined, to the same bytes, and
// what the threads find is told in record order, as by one thread.
TEST(RoundTripTest, LargeTablesAreWrittenInTwoPieces) {
  const std::vector<FieldType> types = {FieldType::Int, FieldType::String, FieldType::Float,
                                        FieldType::Byte};
  constexpr std::uint32_t kRecords = 400000;  // 5.2 MB of records
  const auto build = [&](std::uint32_t unwritableEvery, std::uint32_t nanAt) {
    const std::string block = unwritableEvery != 0 ? std::string("\0iron\0sword\0a\\\n\0", 17)
                                                   : std::string("\0iron\0sword\0", 12);
    std::string file =
        testing::DbcBytes().Header(kRecords, 4, 13, static_cast<std::uint32_t>(block.size())).Str();
    file.resize(kDbcHeaderSize + std::size_t{kRecords} * 13);
    std::mt19937_64 random(3);
    char* record = file.data() + kDbcHeaderSize;
    for (std::uint32_t r = 0; r < kRecords; ++r, record += 13) {
      const bool unwritable = unwritableEvery != 0 && r % unwritableEvery == 7;
      PutFixed32(record, static_cast<std::uint32_t>(random()));
      PutFixed32(record + 4, unwritable ? 12 : r % 3 == 0 ? 0 : r % 3 == 1 ? 1 : 6);
      PutFloat(record + 8, r == nanAt ? std::bit_cast<float>(0x7FC00001u)
                                      : static_cast<float>(random() % 100000) / 64);
      record[12] = static_cast<char>(r);
    }
    return file + block;
  };
  const std::string file = build(0, kRecords);
  const TableImage image = View(file, types);
  std::vector<platform::LargeString> pieces;
  StringSink sink;
  ASSERT_TRUE(WriteCsv(image, types, "t.dbc", pieces, sink));
  EXPECT_EQ(sink.Text(), "");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].back(), '\n');
  const std::vector<std::string_view> views(pieces.begin(), pieces.end());
  const RoundTrip result = CheckRoundTrip(views, file, image, types);
  EXPECT_TRUE(result.exact) << result.difference;
  const std::string joined = std::string(views[0]) + std::string(views[1]);
  EXPECT_TRUE(Repack(joined) == file);

  // Strings the text cannot carry in both halves: one warning, counting
  // all, naming the first; NaNs in both halves: the first is the error.
  const std::string unwritable = build(150000, kRecords);
  EXPECT_TRUE(WriteCsv(View(unwritable, types), types, "t.dbc", pieces, sink));
  EXPECT_EQ(sink.Text(),
            "WARNING: 't.dbc': Field '2': '3' records hold a backslash right before a line "
            "break, which the CSV text cannot carry (the first is record '8').\n");
  sink.Clear();
  std::string nans = build(0, 300000);
  PutFixed32(nans.data() + kDbcHeaderSize + 100 * 13 + 8, 0x7FC00002u);
  EXPECT_FALSE(WriteCsv(View(nans, types), types, "t.dbc", pieces, sink));
  EXPECT_EQ(sink.Text(),
            "ERROR: 't.dbc': Record '101', field '3' holds a NaN float (bits 0x7FC00002), which a "
            "CSV table cannot carry; give that field the type int with --types.\n");
}

}  // namespace
}  // namespace dbcpack
