// The column type guess: table-driven cases for the kinds of columns that
// are easy to confuse, and its accuracy over many generated tables that
// look like the ones DBC files hold.
#include "dbc/type_guess.h"

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
  guessed.ok = GuessFieldTypes(image, guessed.types, "gen.csv.dbc", sink);
  guessed.messages = sink.Text();
  return guessed;
}

Guessed GuessCsv(const std::string& csv) { return GuessFile(PackCsv(csv)); }

std::string TypeList(const std::vector<FieldType>& types) {
  std::string list;
  for (const FieldType type : types) {
    if (!list.empty()) list += ',';
    list += FieldTypeKeyword(type);
  }
  return list;
}

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
  };
  const auto id = [](int r) { return N(r + 1); };
  const auto name = [](int r) { return "\"Name " + N(r * 7 % 23) + "\""; };
  const Case cases[] = {
      {"flags of 0 and 1 beside names",
       Rows("int,string,int", 60,
            [&](int r) { return id(r) + "," + name(r) + "," + N(r % 3 == 0); }),
       "int,string,int"},
      {"a flag before the names",
       Rows("int,int,string", 60,
            [&](int r) { return id(r) + "," + N(r % 2 == 0) + "," + name(r); }),
       "int,int,string"},
      {"counters and small enums",
       Rows("int,int,int,string", 60,
            [&](int r) {
              return id(r) + "," + N(r % 9) + "," + N(r % 4 == 0 ? 0 : 3) + "," + name(r);
            }),
       "int,int,int,string"},
      {"masks with the high bit set",
       Rows("int,int,int", 60,
            [&](int r) {
              return id(r) + "," + N((r % 2 ? -2147483648LL : 0) | (1 << (r % 5))) + "," +
                     N(r % 3 ? -1 : 0x7FFFFFFF);
            }),
       "int,int,int"},
      {"mask bits that read as 2.0 and 2.0000002",
       Rows("int,int", 60, [&](int r) { return id(r) + "," + N(0x40000000 | (r % 4)); }),
       "int,int"},
      {"negative ints",
       Rows("int,int", 60, [&](int r) { return id(r) + "," + N(r % 4 == 0 ? -1 : -7 * r); }),
       "int,int"},
      {"NaN bits among floats",
       Rows("int,int", 60,
            [&](int r) { return id(r) + "," + N(r % 3 == 0 ? 0x7FC00000 : 0x3F800000 + r); }),
       "int,int"},
      {"floats",
       Rows("int,float,float,float", 60,
            [&](int r) {
              return id(r) + "," + N(r * 37 % 100 - 50) + ".25," + (r % 4 ? "1" : "0.5") + "," +
                     (r % 5 ? "0" : "-1234.5677");
            }),
       "int,float,float,float"},
      {"floats, a few of them far out of the usual range",
       Rows("int,float", 60,
            [&](int r) {
              return id(r) + "," + (r % 7 ? N(r * 13) + ".125" : r % 2 ? "3.25e-30" : "1.5e+25");
            }),
       "int,float"},
      {"strings",
       Rows("int,string,string", 60,
            [&](int r) {
              return id(r) + "," + name(r) + ",\"Interface\\Icons\\Spell_" + N(r % 5) + "\"";
            }),
       "int,string,string"},
      {"locale strings, mostly empty",
       Rows("int,string,string,string,int", 60,
            [&](int r) {
              return id(r) + "," + name(r) + (r == 17 ? ",\"Nom\"" : ",") + ",," + N(0xFF01FE);
            }),
       "int,string,string,int,int"},
      {"zeros are ints", Rows("int,float,string,int", 60, [&](int r) { return id(r) + ",0,,0"; }),
       "int,int,int,int"},
      {"bytes first",
       Rows("byte,byte,int,string,float", 60,
            [&](int r) {
              return N(r % 3) + "," + N(r * 11 % 256) + "," + id(r) + "," + name(r) + ",0.5";
            }),
       "byte,byte,int,string,float"},
      {"a byte in the middle",
       Rows("int,string,byte,int,float", 60,
            [&](int r) {
              return id(r) + "," + name(r) + "," + N(r % 2) + "," + N(r % 40) + "," + N(r) + ".5";
            }),
       "int,string,byte,int,float"},
      {"bytes last",
       Rows("int,int,float,byte,byte,byte", 60,
            [&](int r) {
              return id(r) + "," + N(r * 13 % 1000) + ",1.5," + N(r % 5) + ",0," + N(r % 2 * 255);
            }),
       "int,int,float,byte,byte,byte"},
  };
  for (const Case& c : cases) {
    const Guessed guessed = GuessCsv(c.csv);
    EXPECT_TRUE(guessed.ok) << c.name;
    EXPECT_EQ(TypeList(guessed.types), c.types) << c.name;
    EXPECT_EQ(guessed.messages, "") << c.name;
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

// --- Generated tables -----------------------------------------------------

// splitmix64: the same tables on every host and every run.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
  double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  double Between(double low, double high) { return low + (high - low) * Uniform(); }
  bool Chance(double p) { return Uniform() < p; }
  // Roughly log-uniform in [low, high], many small and some large: a
  // uniform octave, then a uniform point in it. Exact arithmetic only, so
  // that every compiler draws the same tables.
  std::uint32_t Scale(std::uint32_t low, std::uint32_t high) {
    const auto octaves = static_cast<std::uint32_t>(std::bit_width(high / low));
    for (;;) {
      const auto octave = static_cast<int>(Below(octaves));
      const double v = std::ldexp(low * (1 + Uniform()), octave);
      if (v <= high) return static_cast<std::uint32_t>(v);
    }
  }

 private:
  std::uint64_t state_;
};

enum class Kind {
  Id,
  Reference,
  Enum,
  Flag,
  Count,
  Mask,
  Signed,
  Constant,
  Zero,
  Color,  // ints
  Coordinate,
  Factor,
  Fraction,
  SparseFloat,
  Duration,
  ZeroFloat,  // floats
  Name,
  Path,
  Text,
  Locale,  // strings
  ByteEnum,
  ByteFlag,
  ByteValue,  // bytes
};

const char* KindName(Kind kind) {
  static const char* const names[] = {
      "id",         "reference",    "enum",      "flag",       "count",     "mask",
      "signed int", "constant",     "zeros",     "color",      "position",  "factor",
      "fraction",   "sparse float", "duration",  "zero float", "name",      "path",
      "text",       "locale",       "byte enum", "byte flag",  "byte value"};
  return names[static_cast<int>(kind)];
}

FieldType TypeOf(Kind kind) {
  if (kind >= Kind::ByteEnum) return FieldType::Byte;
  if (kind >= Kind::Name) return FieldType::String;
  if (kind >= Kind::Coordinate) return FieldType::Float;
  return FieldType::Int;
}

// One column's parameters, drawn once per table.
struct Column {
  Kind kind = Kind::Zero;
  double p = 0;         // chance of a non-default value
  std::uint32_t n = 0;  // range, pool size or mean
  std::int64_t base = 0;
  std::vector<std::uint32_t> bits;  // a mask's bits
  std::vector<std::string> pool;    // a string column's recurring values
  std::int64_t last = 0;            // an id's previous value
};

std::string Word(Rng& rng) {
  static const char* const syllables[] = {"ar",  "bel", "cor", "dra", "el",  "fen", "gor", "hal",
                                          "is",  "jor", "kal", "lo",  "mor", "nar", "or",  "pel",
                                          "quo", "ra",  "sil", "tor", "ul",  "val", "wen", "zan"};
  std::string word;
  const std::uint32_t count = 1 + rng.Below(3);
  for (std::uint32_t i = 0; i < count; ++i) word += syllables[rng.Below(24)];
  word[0] = static_cast<char>(word[0] - 'a' + 'A');
  return word;
}

std::string Sentence(Rng& rng, std::uint32_t words) {
  std::string text = Word(rng);
  for (std::uint32_t i = 1; i < words; ++i) {
    text += rng.Chance(0.1) ? ", " : " ";
    text += Word(rng);
  }
  return text + ".";
}

std::string TwoWords(Rng& rng) {
  const std::string first = Word(rng);
  return first + " " + Word(rng);
}

std::string PathString(Rng& rng) {
  static const char* const folders[] = {"Interface\\Icons\\", "World\\Generic\\Passive\\",
                                        "Spells\\", "Creature\\", "Sound\\Doodad\\"};
  static const char* const endings[] = {".blp", ".m2", ".wav", ""};
  std::string path = folders[rng.Below(5)];
  path += Word(rng);
  path += "_";
  path += Word(rng);
  return path + endings[rng.Below(4)];
}

Column MakeColumn(Kind kind, Rng& rng) {
  Column c;
  c.kind = kind;
  c.p = rng.Between(0.05, 1.0);
  switch (kind) {
    case Kind::Id:
      c.last = rng.Chance(0.6) ? 0 : rng.Scale(10, 200000);
      c.p = rng.Chance(0.7) ? 1.0 : rng.Between(0.2, 0.9);  // chance of no gap
      break;
    case Kind::Reference:
      c.n = rng.Scale(5, 80000);
      break;
    case Kind::Enum:
      c.n = 2 + rng.Below(20);
      break;
    case Kind::Count:
    case Kind::Duration:
      c.n = rng.Scale(2, 3000);
      break;
    case Kind::Mask:
      for (std::uint32_t i = 0, count = 2 + rng.Below(7); i < count; ++i) {
        c.bits.push_back(rng.Chance(0.25) ? 31 - rng.Below(4) : rng.Below(24));
      }
      break;
    case Kind::Constant:
      c.base = rng.Chance(0.7) ? rng.Below(40) : rng.Scale(40, 100000);
      break;
    case Kind::Coordinate:
      c.n = rng.Scale(10, 20000);
      break;
    case Kind::Name:
    case Kind::Path:
      for (std::uint32_t i = 0, count = rng.Scale(1, 200); i < count; ++i) {
        c.pool.push_back(kind == Kind::Name ? TwoWords(rng) : PathString(rng));
      }
      break;
    case Kind::Locale:
      c.p = rng.Chance(0.5) ? 0 : rng.Between(0.002, 0.1);
      break;
    default:
      break;
  }
  return c;
}

std::string FloatText(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string IntValue(Column& c, Rng& rng) {
  const bool on = rng.Chance(c.p);
  std::int64_t v = 0;
  switch (c.kind) {
    case Kind::Id:
      v = c.last += rng.Chance(c.p) ? 1 : 1 + rng.Below(20);
      break;
    case Kind::Reference:
      v = on ? 1 + rng.Below(c.n) : 0;
      break;
    case Kind::Enum:
      if (on) {
        v = rng.Below(c.n);
        v *= rng.Below(2);
        v += rng.Below(3);
      }
      break;
    case Kind::Flag:
      v = on ? 1 : 0;
      break;
    case Kind::Count:
      v = on ? rng.Below(rng.Below(c.n) + 1) : 0;
      break;
    case Kind::Mask:
      for (const std::uint32_t bit : c.bits) v |= rng.Chance(c.p) ? std::int64_t{1} << bit : 0;
      if (rng.Chance(0.03)) v = 0xFFFFFFFF;
      break;
    case Kind::Signed:
      v = rng.Chance(0.4)   ? -1
          : rng.Chance(0.5) ? -static_cast<std::int64_t>(rng.Below(200))
                            : rng.Below(1000);
      break;
    case Kind::Constant:
      v = c.base;
      break;
    case Kind::Color:
      v = rng.Chance(0.5) ? 0xFF000000 : 0;
      v |= rng.Below(0x1000000);
      break;
    default:
      break;
  }
  return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
}

std::string FloatValue(Column& c, Rng& rng) {
  static const float factors[] = {1, 1, 1, 0.5f, 1.5f, 2, 0.25f, 0.75f, 3, 0.1f, 1.25f};
  const bool on = rng.Chance(c.p);
  float v = 0;
  switch (c.kind) {
    case Kind::Coordinate:
      v = static_cast<float>(rng.Between(-1.0, 1.0) * c.n);
      break;
    case Kind::Factor:
      v = on ? factors[rng.Below(11)] : 1;
      break;
    case Kind::Fraction:
      v = static_cast<float>(std::round(rng.Uniform() * 1000) / 1000);
      break;
    case Kind::SparseFloat:
      v = on && rng.Chance(0.3) ? static_cast<float>(rng.Between(0, 100)) : 0;
      break;
    case Kind::Duration:
      if (on) {
        v = static_cast<float>(rng.Below(c.n));
        v *= rng.Chance(0.5) ? 0.5f : 1000.0f;
      }
      break;
    default:
      break;
  }
  return FloatText(v);
}

std::string StringValue(Column& c, Rng& rng) {
  switch (c.kind) {
    case Kind::Name:
      if (rng.Chance(0.05)) return "\"\"";
      return Quoted(rng.Chance(0.6) ? TwoWords(rng)
                                    : c.pool[rng.Below(static_cast<std::uint32_t>(c.pool.size()))]);
    case Kind::Path:
      if (!rng.Chance(c.p)) return "\"\"";
      return Quoted(c.pool[rng.Below(static_cast<std::uint32_t>(c.pool.size()))]);
    case Kind::Text:
      return rng.Chance(c.p) ? Quoted(Sentence(rng, 3 + rng.Below(12))) : "\"\"";
    default:  // a translation, for the few records that have one
      return rng.Chance(c.p) ? Quoted(Sentence(rng, 1 + rng.Below(4))) : "\"\"";
  }
}

std::string ByteValue(Column& c, Rng& rng) {
  const bool on = rng.Chance(c.p);
  std::uint32_t v = 0;
  if (c.kind == Kind::ByteEnum) v = on ? rng.Below(8) : 0;
  if (c.kind == Kind::ByteFlag) v = on ? 1 : 0;
  if (c.kind == Kind::ByteValue) v = on ? rng.Below(256) : 0;
  return std::to_string(v);
}

std::string Value(Column& c, Rng& rng) {
  switch (TypeOf(c.kind)) {
    case FieldType::Int:
      return IntValue(c, rng);
    case FieldType::Float:
      return FloatValue(c, rng);
    case FieldType::String:
      return StringValue(c, rng);
    case FieldType::Byte:
      return ByteValue(c, rng);
  }
  return "0";
}

// Column kinds in rough proportion to real tables: mostly ints, some
// floats and strings.
Kind RandomKind(Rng& rng) {
  static const Kind kinds[] = {Kind::Reference,   Kind::Reference,  Kind::Reference, Kind::Enum,
                               Kind::Enum,        Kind::Flag,       Kind::Flag,      Kind::Count,
                               Kind::Count,       Kind::Mask,       Kind::Signed,    Kind::Constant,
                               Kind::Constant,    Kind::Zero,       Kind::Zero,      Kind::Color,
                               Kind::Coordinate,  Kind::Coordinate, Kind::Factor,    Kind::Fraction,
                               Kind::SparseFloat, Kind::Duration,   Kind::ZeroFloat, Kind::Name,
                               Kind::Path,        Kind::Text};
  return kinds[rng.Below(sizeof kinds / sizeof kinds[0])];
}

// The columns of one table: an id first, as most tables have, a name
// soon after, other columns, sometimes a block of locale strings with
// its mask, and sometimes byte columns at the start, middle or end.
std::vector<Column> MakeSchema(Rng& rng) {
  std::vector<Column> columns;
  if (rng.Chance(0.9)) columns.push_back(MakeColumn(Kind::Id, rng));
  for (std::uint32_t i = 0, count = 1 + rng.Scale(1, 40); i < count; ++i) {
    columns.push_back(MakeColumn(i == 0 && rng.Chance(0.5) ? Kind::Name : RandomKind(rng), rng));
  }
  if (rng.Chance(0.25)) {
    const auto at = columns.begin() + rng.Below(static_cast<std::uint32_t>(columns.size()) + 1);
    std::vector<Column> locales;
    for (std::uint32_t i = 0, count = rng.Chance(0.5) ? 8 : 16; i < count; ++i) {
      locales.push_back(i == 0 ? MakeColumn(Kind::Name, rng) : MakeColumn(Kind::Locale, rng));
    }
    Column mask = MakeColumn(Kind::Constant, rng);
    mask.base = rng.Chance(0.5) ? 0x00FF01FE : 0x00FF01FC;
    locales.push_back(mask);
    columns.insert(at, locales.begin(), locales.end());
  }
  if (rng.Chance(0.4)) {
    for (std::uint32_t group = 0, groups = 1 + rng.Below(3); group < groups; ++group) {
      const std::uint32_t where = rng.Below(3);  // start, middle, end
      const auto size = static_cast<std::uint32_t>(columns.size());
      const auto at = columns.begin() + (where == 0 ? 0 : where == 1 ? rng.Below(size + 1) : size);
      std::vector<Column> bytes;
      for (std::uint32_t i = 0, count = 1 + rng.Below(4); i < count; ++i) {
        bytes.push_back(
            MakeColumn(static_cast<Kind>(static_cast<int>(Kind::ByteEnum) + rng.Below(3)), rng));
      }
      columns.insert(at, bytes.begin(), bytes.end());
    }
  }
  return columns;
}

struct Tally {
  int right = 0;
  int told = 0;
};

// Whether a column's type can be told from its values at all: a string
// column of empty strings only or a float column of zeros only cannot.
bool CanBeTold(const Column& c, const std::vector<std::string>& values) {
  if (c.kind == Kind::Zero) return true;  // an int by rule
  for (const std::string& v : values) {
    if (v != "\"\"" && v != "0" && v != "-0") return true;
  }
  return TypeOf(c.kind) == FieldType::Int || TypeOf(c.kind) == FieldType::Byte;
}

TEST(TypeGuessTest, GuessesNineteenColumnsInTwentyOfRealisticTables) {
  Rng rng(20261208);
  std::map<std::string, Tally> byKind;
  Tally total;
  for (int t = 0; t < 400; ++t) {
    std::vector<Column> columns = MakeSchema(rng);
    std::vector<FieldType> truth;
    for (const Column& c : columns) truth.push_back(TypeOf(c.kind));
    const std::uint32_t records = rng.Scale(1, 3000);
    std::vector<std::vector<std::string>> values(columns.size());
    std::string csv = TypeList(truth) + "\n";
    for (std::uint32_t r = 0; r < records; ++r) {
      for (std::size_t k = 0; k < columns.size(); ++k) {
        values[k].push_back(Value(columns[k], rng));
        csv += (k ? "," : "") + values[k].back();
      }
      csv += "\n";
    }
    const Guessed guessed = GuessCsv(csv);
    ASSERT_TRUE(guessed.ok) << guessed.messages;
    ASSERT_EQ(guessed.types.size(), truth.size());
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (!CanBeTold(columns[k], values[k])) continue;
      const bool right = guessed.types[k] == truth[k];
      Tally& kind = byKind[KindName(columns[k].kind)];
      kind.right += right;
      ++kind.told;
      total.right += right;
      ++total.told;
    }
  }
  std::printf("Type guess: %d of %d columns right (%.2f%%)\n", total.right, total.told,
              100.0 * total.right / total.told);
  for (const auto& [kind, tally] : byKind) {
    std::printf("  %-13s %5d of %5d (%.1f%%)\n", kind.c_str(), tally.right, tally.told,
                100.0 * tally.right / tally.told);
  }
  EXPECT_GE(total.right * 20, total.told * 19);
}

}  // namespace
}  // namespace dbcpack
