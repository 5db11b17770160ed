// The column type guess: table-driven cases for the kinds of columns that
// are easy to confuse, and its accuracy over many generated tables that
// look like the ones DBC files hold.
#include "guess/type_guess.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "dbc/dbc_encoder.h"
#include "dbc/dbc_reader.h"
#include "guess/realistic_tables.h"
#include "table/dbc_table.h"
#include "table/field_type.h"
#include "table/message_sink.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::DbcBytes;

// A table packed by the real loader from CSV text, as a DBC file.
std::string PackCsv(const std::string& csv) {
  DbcTable table;
  table.fileName = "gen.csv";
  StringSink sink;
  if (!table.LoadCsvContent(csv, sink)) ADD_FAILURE() << sink.Text();
  const EncodedDbc encoded = EncodeDbc(table.Image());
  std::string file;
  for (const std::string_view piece : encoded.Pieces()) file.append(piece);
  return file;
}

struct Guessed {
  bool ok = false;
  std::vector<FieldType> types;
  std::vector<TypeDoubt> doubts;
  std::string messages;
};

Guessed GuessFile(const std::string& file) {
  StringSink sink;
  Guessed guessed;
  TableImage image;
  if (!ReadDbc(file, "gen.csv.dbc", image, sink)) {
    ADD_FAILURE() << sink.Text();
    return guessed;
  }
  TypeGuess guess;
  guessed.ok = GuessFieldTypes(image, guess, "gen.csv.dbc", sink);
  guessed.types = std::move(guess.types);
  guessed.doubts = std::move(guess.doubts);
  guessed.messages = sink.Text();
  return guessed;
}

Guessed GuessCsv(const std::string& csv) { return GuessFile(PackCsv(csv)); }

std::string TypeList(const std::vector<FieldType>& types) { return TypeListText(types); }

// CSV text: the header, then `count` lines from `line(r)`.
template <typename Line>
std::string Rows(const std::string& header, int count, Line line) {
  std::string csv = header + "\n";
  for (int r = 0; r < count; ++r) csv += line(r) + "\n";
  return csv;
}

std::string N(long long value) { return std::to_string(value); }

TEST(TypeGuessTest, TellsColumnsThatAreEasyToConfuse) {
  struct Case {
    const char* name;
    std::string csv;
    const char* types;
    bool unsure;  // whether the guess should say it is unsure
  };
  const auto id = [](int r) { return N(r + 1); };
  const auto name = [](int r) { return "\"Name " + N(r * 7 % 23) + "\""; };
  const Case cases[] = {
      {"flags of 0 and 1 beside names",
       Rows("int,string,int", 60,
            [&](int r) { return id(r) + "," + name(r) + "," + N(r % 3 == 0); }),
       "int,string,int", false},
      {"a flag before the names",
       Rows("int,int,string", 60,
            [&](int r) { return id(r) + "," + N(r % 2 == 0) + "," + name(r); }),
       "int,int,string", false},
      {"counters and small enums",
       Rows("int,int,int,string", 60,
            [&](int r) {
              return id(r) + "," + N(r % 9) + "," + N(r % 4 == 0 ? 0 : 3) + "," + name(r);
            }),
       "int,int,int,string", false},
      {"masks with the high bit set",
       Rows("int,int,int", 60,
            [&](int r) {
              return id(r) + "," + N((r % 2 ? -2147483648LL : 0) | (1 << (r % 5))) + "," +
                     N(r % 3 ? -1 : 0x7FFFFFFF);
            }),
       "int,int,int", false},
      {"mask bits that read as 2.0 and 2.0000002",
       Rows("int,int", 60, [&](int r) { return id(r) + "," + N(0x40000000 | (r % 4)); }), "int,int",
       true},
      // 0x9C1321 reads as 1.43343e-38: six digits, as one random pattern
      // in ten does so far from the usual exponents.
      {"a colour without alpha in a table of one record",
       Rows("int,int,string", 1, [&](int r) { return id(r) + ",10228513," + name(r); }),
       "int,int,string", false},
      {"negative ints",
       Rows("int,int", 60, [&](int r) { return id(r) + "," + N(r % 4 == 0 ? -1 : -7 * r); }),
       "int,int", false},
      {"NaN bits among floats",
       Rows("int,int", 60,
            [&](int r) { return id(r) + "," + N(r % 3 == 0 ? 0x7FC00000 : 0x3F800000 + r); }),
       "int,int", false},
      {"floats",
       Rows("int,float,float,float", 60,
            [&](int r) {
              return id(r) + "," + N(r * 37 % 100 - 50) + ".25," + (r % 4 ? "1" : "0.5") + "," +
                     (r % 5 ? "0" : "-1234.5677");
            }),
       "int,float,float,float", false},
      {"floats, a few of them far out of the usual range",
       Rows("int,float", 60,
            [&](int r) {
              return id(r) + "," + (r % 7 ? N(r * 13) + ".125" : r % 2 ? "3.25e-30" : "1.5e+25");
            }),
       "int,float", false},
      {"strings",
       Rows(
           "int,string,string", 60,
           [&](int r) { return id(r) + "," + name(r) + ",\"art\\icons\\item_" + N(r % 5) + "\""; }),
       "int,string,string", false},
      {"locale strings, mostly empty",
       Rows("int,string,string,string,int", 60,
            [&](int r) {
              return id(r) + "," + name(r) + (r == 17 ? ",\"Nom\"" : ",") + ",," + N(0xFF01FE);
            }),
       "int,string,string,int,int", false},
      {"zeros are ints", Rows("int,float,string,int", 60, [&](int r) { return id(r) + ",0,,0"; }),
       "int,int,int,int", false},
      {"bytes first",
       Rows("byte,byte,int,string,float", 60,
            [&](int r) {
              return N(r % 3) + "," + N(r * 11 % 256) + "," + id(r) + "," + name(r) + ",0.5";
            }),
       "byte,byte,int,string,float", false},
      {"a byte in the middle",
       Rows("int,string,byte,int,float", 60,
            [&](int r) {
              return id(r) + "," + name(r) + "," + N(r % 2) + "," + N(r % 40) + "," + N(r) + ".5";
            }),
       "int,string,byte,int,float", true},
      // The placement that scores best reads the name's offsets a byte
      // off; only the other one explains the string block.
      {"a byte before a string, in five records",
       Rows("byte,string,float,string,int", 5,
            [&](int r) {
              return N(r % 3 + 1) + "," + name(r) + "," + N(r) + ".5,\"Tag " + N(r % 2) + "\"," +
                     N(r * 3);
            }),
       "byte,string,float,string,int", false},
      {"bytes last",
       Rows("int,int,float,byte,byte,byte", 60,
            [&](int r) {
              return id(r) + "," + N(r * 13 % 1000) + ",1.5," + N(r % 5) + ",0," + N(r % 2 * 255);
            }),
       "int,int,float,byte,byte,byte", false},
  };
  for (const Case& c : cases) {
    const Guessed guessed = GuessCsv(c.csv);
    EXPECT_TRUE(guessed.ok) << c.name;
    EXPECT_EQ(TypeList(guessed.types), c.types) << c.name;
    EXPECT_EQ(guessed.messages, "") << c.name;
    EXPECT_EQ(!guessed.doubts.empty(), c.unsure) << c.name << ": " << DoubtText(guessed.doubts);
  }
}

// A float as CSV text, every digit it holds.
std::string F(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(value)));
  return text;
}

// Real records are built of arrays and computed values; what the guess
// must read as their makers wrote them, and say nothing of.
TEST(TypeGuessTest, ReadsRecordsAsTablesAreBuilt) {
  const auto id = [](int r) { return N(r + 1); };
  // Memory the writing tool never set, in a float column.
  const std::string filler = F(std::bit_cast<float>(0xCCCCCCCCu));
  const std::string paths[] = {"\"models\\ox.mdl\"", "\"models\\elk.mdl\"", "\"models\\owl.mdl\"",
                               "\"models\\bat.mdl\""};
  const struct {
    const char* name;
    std::string csv;
    const char* types;
  } cases[] = {
      {"positions of many digits, a time stamp among ints",
       Rows("int,int,int,int,float,float", 40,
            [&](int r) {
              return id(r) + "," + N(r % 7) + "," + N(1300000000 + 3607 * r) + "," + N(r % 2) +
                     "," + F(58.939102 + 1.7371337 * r) + "," + F(111.25634 + 7.3117 * (r % 9));
            }),
       "int,int,int,int,float,float"},
      {"a curve: fillers in one point, one value in another, fillers, 0.8 and 55000 last",
       Rows("int,float,float,float,float,float", 30,
            [&](int r) {
              return id(r) + "," + F(r / 52.0) + "," + (r % 3 ? filler : "0") + "," +
                     (r == 7 ? "0.31415927" : "0") + "," + F(0.5 + r / 104.0) + "," +
                     (r % 4 == 0   ? filler
                      : r % 4 == 1 ? "0.8"
                      : r % 4 == 2 ? "55000"
                                   : "0");
            }),
       "int,float,float,float,float,float"},
      {"one column of computed points between 0 and 1",
       Rows("float", 300, [&](int r) { return F((r % 103 + 1) / 104.0); }), "float"},
      {"slots of an array of paths, each holding one of them",
       Rows("int,string,string,string,string", 17,
            [&](int r) {
              return id(r) + "," + paths[r % 4] + "," + (r % 5 == 3 ? paths[1] : "") + "," +
                     (r % 6 == 4 ? paths[2] : "") + "," + (r == 9 ? paths[3] : "");
            }),
       "int,string,string,string,string"},
      {"a stat of 1 where the first string repeats, in a small table",
       Rows("int,string,int", 9,
            [&](int r) {
              return id(r) + "," + (r % 4 == 0 ? paths[0] : paths[r % 4]) + "," +
                     N(r % 4 == 0 ? 1 : 0);
            }),
       "int,string,int"},
      {"a one-byte operator beside an unused int reads the same either way",
       Rows("int,int,byte,int,byte,byte,int", 30,
            [&](int r) {
              return id(r) + "," + N(r * 7 % 50) + "," + N(1 + r % 3) + ",0," + N(1 + r % 5) + "," +
                     N(r % 2 + 1) + "," + N(r * 13 % 100);
            }),
       "int,int,byte,int,byte,byte,int"},
      {"a key of small values before a one-byte field no record sets",
       Rows("int,byte,byte,byte,int,int", 13,
            [&](int r) {
              return id(r) + ",0," + N(r * 7 % 21) + "," + N(r * 5 % 21) + "," +
                     N(r % 3 ? -17 * r : 41 * r) + ",23";
            }),
       "int,byte,byte,byte,int,int"},
  };
  for (const auto& c : cases) {
    const Guessed guessed = GuessCsv(c.csv);
    EXPECT_EQ(TypeList(guessed.types), c.types) << c.name;
    EXPECT_EQ(DoubtText(guessed.doubts), "") << c.name;
  }
}

// A value that rules out a string or float column counts wherever it lies,
// in the records the guess samples or not.
TEST(TypeGuessTest, OneValueAnywhereRulesOutStringsAndFloats) {
  const int records = 20000;
  const std::string csv = Rows("int,float,string", records, [](int r) {
    return N(r + 1) + "," + N(r % 100) + ".5,\"Name " + N(r % 50) + "\"";
  });
  const std::string clean = PackCsv(csv);
  ASSERT_EQ(TypeList(GuessFile(clean).types), "int,float,string");
  for (int r = 1000; r < records; r += 2375) {
    SCOPED_TRACE(r);
    const std::size_t record = 20 + static_cast<std::size_t>(r) * 12;
    std::string file = clean;
    file.replace(record + 4, 4, std::string("\x01\x00\xC0\x7F", 4));  // a NaN
    EXPECT_EQ(TypeList(GuessFile(file).types), "int,int,string");
    file = clean;
    file.replace(record + 8, 4, std::string("\x02\x00\x00\x00", 4));  // inside "Name 0"
    EXPECT_EQ(TypeList(GuessFile(file).types), "int,float,int");
  }
}

TEST(TypeGuessTest, FilesWithoutRecordsOrTooManyPlacements) {
  // No records tell nothing: the one-byte columns are taken to be the last.
  Guessed guessed = GuessFile(DbcBytes().Header(0, 4, 10, 1).Raw(std::string(1, '\0')).Str());
  EXPECT_TRUE(guessed.ok);
  EXPECT_EQ(TypeList(guessed.types), "int,int,byte,byte");
  // 10000 fields of which 6711 are bytes: more placements than are searched.
  const std::uint32_t fields = 10000;
  const std::uint32_t size = 4 * fields - 3 * 6711;
  guessed = GuessFile(DbcBytes()
                          .Header(1, fields, size, 1)
                          .Raw(std::string(size, '\0'))
                          .Raw(std::string(1, '\0'))
                          .Str());
  EXPECT_FALSE(guessed.ok);
  EXPECT_EQ(guessed.messages,
            "ERROR: 'gen.csv.dbc': Can't guess the field types: '10000' fields in '19867'-byte "
            "records must include '6711' 1-byte fields; give the types with --types.\n");
}

// Offsets past a block the header under-states are strings all the same.
TEST(TypeGuessTest, StringsPastABlockTheHeaderUnderStates) {
  DbcBytes bytes;
  bytes.Header(4, 2, 8, 4).Int(100000).Int(1).Int(200000).Int(4).Int(300000).Int(7);
  const Guessed guessed = GuessFile(bytes.Int(400000).Int(1).Raw({"\0ab\0cd\0ef\0", 10}).Str());
  EXPECT_EQ(TypeList(guessed.types), "int,string");
  EXPECT_EQ(DoubtText(guessed.doubts), "");
}

// --- Generated tables -----------------------------------------------------

// The guess over many tables that look like real ones: the share of
// columns right, of tables right in every column, and of doubts where they
// are due and where they are not.
TEST(TypeGuessTest, GuessesRealisticTablesAndSaysWhenUnsure) {
  testing::TableGenerator generator(20261209);
  std::map<std::string, std::pair<int, int>> byKind;  // right, told
  int right = 0;
  int told = 0;
  int tablesRight = 0;
  int wrongUnsaid = 0;
  int rightDoubted = 0;
  constexpr int kTables = 2000;
  for (int t = 0; t < kTables; ++t) {
    const testing::GeneratedTable table = generator.Next();
    const Guessed guessed = GuessCsv(table.csv);
    ASSERT_TRUE(guessed.ok) << guessed.messages;
    ASSERT_EQ(guessed.types.size(), table.types.size());
    bool all = true;
    for (std::size_t k = 0; k < table.types.size(); ++k) {
      if (!table.told[k]) continue;
      const bool ok = guessed.types[k] == table.types[k];
      auto& [kindRight, kindTold] = byKind[table.kinds[k]];
      kindRight += ok;
      ++kindTold;
      right += ok;
      ++told;
      all = all && ok;
    }
    tablesRight += all;
    wrongUnsaid += !all && guessed.doubts.empty();
    rightDoubted += all && !guessed.doubts.empty();
  }
  std::printf(
      "Type guess: %d of %d columns right (%.2f%%); %d of %d tables right in every column\n", right,
      told, 100.0 * right / told, tablesRight, kTables);
  std::printf("  wrong without a doubt: %d tables; right with a doubt: %d tables (%.1f%%)\n",
              wrongUnsaid, rightDoubted, 100.0 * rightDoubted / tablesRight);
  for (const auto& [kind, tally] : byKind) {
    std::printf("  %-13s %5d of %5d (%.1f%%)\n", kind.c_str(), tally.first, tally.second,
                100.0 * tally.first / tally.second);
  }
  // Just short of the figures printed (27607 of 27763 columns, 1906
  // tables, 7 wrong without a doubt, 140 right with one), so that a guess
  // that gets two or three tables more wrong, or doubts a few more right
  // ones, fails here: the generator draws the same tables on every host.
  // Move them with the figures when the guess gets better.
  EXPECT_GE(right * 10000, told * 9943);
  EXPECT_GE(tablesRight, 1905);
  EXPECT_LE(wrongUnsaid, 8);
  EXPECT_LE(rightDoubted, 142);
}

}  // namespace
}  // namespace dbcpack
