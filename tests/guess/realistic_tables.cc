// The generator of realistic tables. A table is drawn as one of a few
// shapes seen in real files (plain reference tables, tables of localised
// text, long records of effect parameters, tables of model and sound paths,
// tables with small enums in bytes right after the id, small tables of
// conditions with runs of one-byte operators, positions and curves, a few
// records of stats, one-column curves, tiny tables), its columns as kinds
// with parameters drawn once, and then its records; the text is CSV for the
// real loader to pack, so that the string block is exactly what dbcpack
// writes. The shares of the kinds follow what real tables hold: computed
// floats with now and then a time stamp among them, fillers in a few float
// and int columns.
#include "guess/realistic_tables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <string>

namespace dbcpack::testing {
namespace {

enum class Kind {
  // ints
  Id,
  Reference,
  Enum,
  Flag,
  One,
  Count,
  Amount,
  Mask,
  HighMask,
  Signed,
  Constant,
  Zero,
  Color,
  Filler,
  TimeStamp,
  LocaleMask,
  // floats
  Coordinate,
  Factor,
  Fraction,
  SparseFloat,
  SparseSet,
  Duration,
  Computed,
  Measured,
  Curve,
  ZeroFloat,
  // strings
  Name,
  Path,
  Text,
  Locale,
  LocaleSingle,
  FewStrings,
  // bytes
  ByteEnum,
  Channel,
  Blend,
  Operator,
};

const char* const kKindNames[] = {
    "id",         "reference",    "enum",       "flag",        "ones",       "count",
    "amount",     "mask",         "high mask",  "signed int",  "constant",   "zeros",
    "color",      "filler",       "time stamp", "locale mask", "position",   "factor",
    "fraction",   "sparse float", "0/0.7/1/2",  "duration",    "computed",   "measured",
    "curve",      "zero float",   "name",       "path",        "text",       "locale",
    "one-string", "few strings",  "byte enum",  "channel",     "blend mode", "operator"};

// The pattern of memory a writing tool never set, in int and float columns
// alike.
constexpr std::uint32_t kFillerBits = 0xCCCCCCCC;

FieldType TypeOf(Kind kind) {
  if (kind >= Kind::ByteEnum) return FieldType::Byte;
  if (kind >= Kind::Name) return FieldType::String;
  if (kind >= Kind::Coordinate) return FieldType::Float;
  return FieldType::Int;
}

// A column's parameters, drawn once per table.
struct Column {
  Kind kind = Kind::Zero;
  double p = 1;         // chance of a value other than the default
  std::uint32_t n = 0;  // range, or pool size
  std::int64_t base = 0;
  double scale = 1;                 // magnitude of computed values; a curve point's place
  double spread = 0;                // of a curve point about its place
  double filler = 0;                // chance of the filler instead of a value
  std::vector<std::uint32_t> bits;  // a mask's bits
  std::vector<std::string> pool;    // recurring values
  int copyOf = -1;                  // a locale column that repeats this column's text
};

const char* const kSyllables[] = {"ar",  "bel", "cor", "dra", "el",  "fen", "gor", "hal",
                                  "is",  "jor", "kal", "lo",  "mor", "nar", "or",  "pel",
                                  "quo", "ra",  "sil", "tor", "ul",  "val", "wen", "zan"};

std::string Word(TableGenerator& g) {
  std::string word;
  for (std::uint32_t i = 0, count = 1 + g.Below(3); i < count; ++i) word += kSyllables[g.Below(24)];
  return word;
}

std::string Capital(std::string word) {
  word[0] = static_cast<char>(word[0] - 'a' + 'A');
  return word;
}

std::string NameText(TableGenerator& g) {
  const std::string first = Capital(Word(g));
  return first + " " + Word(g);
}

std::string Sentence(TableGenerator& g, std::uint32_t words) {
  std::string text = Capital(Word(g));
  for (std::uint32_t i = 1; i < words; ++i) {
    text += g.Chance(0.1) ? ", " : " ";
    text += Word(g);
  }
  return text + ".";
}

// Windows-style paths, many of whose names start with n or r, as model,
// sound and effect files do.
std::string PathText(TableGenerator& g) {
  static const char* const folders[] = {"effects\\",      "models\\night\\", "world\\rocks\\",
                                        "sound\\river\\", "art\\icons\\",    "beasts\\"};
  static const char* const starts[] = {"n", "r", "", "", "", "big_"};
  static const char* const endings[] = {".mdl", ".mesh", ".wav", ".png", ""};
  std::string path = folders[g.Below(6)];
  path += starts[g.Below(6)];
  path += Word(g);
  if (g.Chance(0.5)) path += "_" + Word(g);
  if (g.Chance(0.3)) path += std::to_string(g.Below(20));
  return path + endings[g.Below(5)];
}

// A short decimal of small magnitude, as effect parameters hold.
std::string SmallDecimal(TableGenerator& g) {
  static const char* const values[] = {"0.0375", "0.7", "2.5", "6.1", "0.25", "1.5",
                                       "0.05",   "12",  "0.8", "3",   "0.15", "45"};
  return values[g.Below(12)];
}

std::string FloatText(float value) {
  if (value == 0) return "0";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

// A value in CSV text: a double quote doubled, and a backslash before n or
// r written as two, so that it stays a backslash.
std::string Quoted(const std::string& value) {
  std::string text = "\"";
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') text += '"';
    const bool beforeLetter = i + 1 < value.size() && (value[i + 1] == 'n' || value[i + 1] == 'r');
    if (c == '\\' && beforeLetter) text += '\\';
    text += c;
  }
  return text + "\"";
}

void MakeStringPool(Column& c, TableGenerator& g) {
  const std::uint32_t count = c.kind == Kind::FewStrings ? 1 + g.Below(2) : g.Scale(1, 200);
  for (std::uint32_t i = 0; i < count; ++i) {
    c.pool.push_back(c.kind == Kind::Path ? PathText(g) : NameText(g));
  }
  if (c.kind == Kind::FewStrings) c.p = 0.01 + 0.5 * g.Uniform();
}

void MakeNumberColumn(Column& c, TableGenerator& g) {
  switch (c.kind) {
    case Kind::Id:
      c.base = g.Chance(0.6) ? 0 : g.Scale(10, 200000);
      c.p = g.Chance(0.6) ? 1.0 : 0.2 + 0.7 * g.Uniform();  // chance of no gap
      break;
    case Kind::Reference:
      c.n = g.Scale(5, 80000);
      break;
    case Kind::Enum:
      c.n = 2 + g.Below(20);
      break;
    case Kind::Count:
      c.n = g.Scale(2, 3000);
      break;
    case Kind::Mask:
    case Kind::HighMask:
      for (std::uint32_t i = 0, count = 2 + g.Below(7); i < count; ++i) {
        c.bits.push_back(g.Chance(0.2) ? 31 - g.Below(4) : g.Below(24));
      }
      break;
    case Kind::Constant:
      c.base = g.Chance(0.7) ? g.Below(40) : g.Scale(40, 100000);
      break;
    case Kind::Coordinate:
      c.n = g.Scale(10, 20000);
      break;
    case Kind::TimeStamp:  // last changed within weeks of one another
      c.base = 1000000000 + g.Below(400000000);
      c.n = g.Scale(60, 3000000);
      break;
    case Kind::Computed:
    case Kind::Measured:
      c.scale = 1 + g.Uniform();
      c.scale = std::ldexp(c.scale, static_cast<int>(g.Below(14)) - 4);
      break;
    case Kind::Curve:
      c.n = 20 + g.Below(200);  // computed as fractions of this
      c.scale = 0.5;
      c.spread = 1;  // a curve on its own; a point of an array has its place
      break;
    default:
      break;
  }
}

Column MakeColumn(Kind kind, TableGenerator& g) {
  Column c;
  c.kind = kind;
  c.p = 0.05 + 0.95 * g.Uniform();
  switch (kind) {
    case Kind::Name:
    case Kind::Path:
    case Kind::FewStrings:
      MakeStringPool(c, g);
      break;
    case Kind::Locale:
      c.p = g.Chance(0.6) ? 0 : 0.002 + 0.1 * g.Uniform();
      break;
    case Kind::LocaleSingle:
      c.pool.push_back(Sentence(g, 1 + g.Below(3)));
      c.p = 0.001 + 0.05 * g.Uniform();
      break;
    case Kind::SparseFloat:
    case Kind::SparseSet:
      c.p = g.Chance(0.5) ? 0.01 + 0.1 * g.Uniform() : c.p;
      for (std::uint32_t i = 0, count = 1 + g.Below(4); i < count; ++i)
        c.pool.push_back(SmallDecimal(g));
      break;
    case Kind::Measured:
    case Kind::Curve:
      c.p = g.Chance(0.5) ? 1 : 0.5 + 0.5 * g.Uniform();
      MakeNumberColumn(c, g);
      break;
    default:
      MakeNumberColumn(c, g);
      break;
  }
  return c;
}

std::int64_t IntValue(Column& c, TableGenerator& g) {
  const bool on = g.Chance(c.p);
  switch (c.kind) {
    case Kind::Id:
      return c.base += g.Chance(c.p) ? 1 : 1 + g.Below(40);
    case Kind::Reference:
      return on ? 1 + g.Below(c.n) : 0;
    case Kind::Enum:
      return on ? g.Below(c.n) : 0;
    case Kind::Flag:
      return on ? 1 : 0;
    case Kind::One:
      return 1;
    case Kind::Count:
      return on ? g.Below(g.Below(c.n) + 1) : 0;
    case Kind::Amount: {
      static const int amounts[] = {1000, 500, 400, 250, 2000, 1000};
      return amounts[g.Below(6)];
    }
    case Kind::Mask:
    case Kind::HighMask: {
      std::int64_t v = c.kind == Kind::HighMask ? 0x40000000 : 0;
      for (const std::uint32_t bit : c.bits) v |= g.Chance(c.p) ? std::int64_t{1} << bit : 0;
      return g.Chance(0.03) && c.kind == Kind::Mask ? 0xFFFFFFFF : v;
    }
    case Kind::Signed:
      return g.Chance(0.4)   ? -1
             : g.Chance(0.5) ? -static_cast<std::int64_t>(g.Below(200))
                             : g.Below(1000);
    case Kind::Constant:
    case Kind::LocaleMask:
      return c.base;
    case Kind::Color: {
      const std::int64_t alpha = g.Chance(0.5) ? 0xFF000000 : 0;
      return alpha | g.Below(0x1000000);
    }
    case Kind::Filler:
      return on ? kFillerBits : 0;
    case Kind::TimeStamp:
      return on ? c.base + g.Below(c.n) : 0;
    default:
      return 0;
  }
}

// Computed values have all the digits a float holds: positions, bounds,
// points of a curve (fractions such as 5/52, 0.096153848). Exact
// arithmetic only, no library function, so that every host draws the same.
std::string ComputedValue(Column& c, TableGenerator& g) {
  switch (c.kind) {
    case Kind::Computed:
      return FloatText(static_cast<float>((2 * g.Uniform() - 1) * c.scale));
    case Kind::Measured:
      return FloatText(static_cast<float>(c.scale * (0.05 + 0.95 * g.Uniform())));
    default: {  // Curve
      const double point = std::clamp(c.scale + c.spread * (g.Uniform() - 0.5), 0.0, 1.0);
      return FloatText(static_cast<float>(std::round(point * c.n) / c.n));
    }
  }
}

std::string FloatValue(Column& c, TableGenerator& g) {
  static const char* const factors[] = {"1", "1",    "1",    "0.5", "1.5",
                                        "2", "0.25", "0.75", "3",   "0.1"};
  static const char* const sparseSet[] = {"0.7", "1", "2", "1"};
  const bool on = g.Chance(c.p);
  switch (c.kind) {
    case Kind::Coordinate: {
      const double v = (g.Uniform() * 2 - 1) * c.n;
      return FloatText(static_cast<float>(std::round(v * 100) / 100));
    }
    case Kind::Factor:
      return on ? factors[g.Below(10)] : "1";
    case Kind::Fraction:
      return FloatText(static_cast<float>(std::round(g.Uniform() * 1000) / 1000));
    case Kind::SparseFloat:
      return on ? c.pool[g.Below(static_cast<std::uint32_t>(c.pool.size()))] : "0";
    case Kind::SparseSet:
      return on ? sparseSet[g.Below(4)] : "0";
    case Kind::Duration: {
      if (!on) return "0";
      const std::uint32_t count = g.Below(g.Scale(2, 600));
      return std::to_string(count * (g.Chance(0.5) ? 500 : 1000));
    }
    case Kind::Computed:
    case Kind::Measured:
    case Kind::Curve:
      return on ? ComputedValue(c, g) : "0";
    default:
      return "0";
  }
}

std::string StringValue(Column& c, const std::vector<std::string>& row, TableGenerator& g) {
  const auto pick = [&] { return c.pool[g.Below(static_cast<std::uint32_t>(c.pool.size()))]; };
  switch (c.kind) {
    case Kind::Name:
      if (g.Chance(0.03)) return "";
      return g.Chance(0.6) ? NameText(g) : pick();
    case Kind::Path:
    case Kind::FewStrings:
      return g.Chance(c.p) ? pick() : "";
    case Kind::Text:
      return g.Chance(c.p) ? Sentence(g, 3 + g.Below(12)) : "";
    case Kind::Locale:
      return g.Chance(c.p) ? Sentence(g, 1 + g.Below(4)) : "";
    default:  // LocaleSingle
      if (!g.Chance(c.p)) return "";
      return c.copyOf >= 0 && !row[c.copyOf].empty() ? row[c.copyOf] : c.pool[0];
  }
}

std::string ByteValue(Column& c, TableGenerator& g) {
  static const int channels[] = {255, 96, 128, 64, 0, 200};
  switch (c.kind) {
    case Kind::Channel:
      return std::to_string(g.Chance(0.5) ? 255 : channels[g.Below(6)]);
    case Kind::Blend:
      return std::to_string(g.Below(5));
    case Kind::Operator:
      return std::to_string(g.Chance(c.p) ? 1 + g.Below(5) : 0);
    default:
      return std::to_string(g.Chance(c.p) ? g.Below(21) : 0);
  }
}

// A block of localised text: one filled locale, the others empty but for
// now and then one that holds a single value, and the mask of locales.
void AddLocaleBlock(std::vector<Column>& columns, TableGenerator& g) {
  const auto first = static_cast<int>(columns.size());
  const std::uint32_t count = g.Chance(0.5) ? 8 : 16;
  columns.push_back(MakeColumn(g.Chance(0.5) ? Kind::Name : Kind::Text, g));
  const std::uint32_t single = g.Chance(0.5) ? 1 + g.Below(count - 1) : count;
  for (std::uint32_t i = 1; i < count; ++i) {
    columns.push_back(MakeColumn(i == single ? Kind::LocaleSingle : Kind::Locale, g));
    if (i == single && g.Chance(0.5)) columns.back().copyOf = first;
    if (i != single) columns.back().p = g.Chance(0.85) ? 0 : columns.back().p;
  }
  Column mask = MakeColumn(Kind::LocaleMask, g);
  mask.base = g.Chance(0.7) ? (g.Chance(0.5) ? 0x00FF01FE : 0x00FF01FC) : 2 * g.Below(2);
  columns.push_back(mask);
}

// An array: columns of one kind side by side (3 coordinates, 6 bounds, 16
// points of a curve, slots of references, model paths), the later ones
// used less often.
void AddArray(std::vector<Column>& columns, Kind kind, std::uint32_t count, TableGenerator& g) {
  const Column first = MakeColumn(kind, g);
  const double decay = g.Chance(0.5) ? 1 : 0.5 + 0.45 * g.Uniform();
  double p = first.p;
  for (std::uint32_t i = 0; i < count; ++i, p *= decay) {
    Column c = TypeOf(kind) == FieldType::String ? first : MakeColumn(kind, g);
    c.p = p;
    if (kind == Kind::Curve) {
      c.n = first.n;
      c.scale = (i + 1.0) / (count + 1.0);
      c.spread = 0.1;
    }
    columns.push_back(std::move(c));
  }
}

// A curve whose last points are unused: zeros, the filler, a value or two.
void AddCurve(std::vector<Column>& columns, TableGenerator& g) {
  const std::uint32_t count = g.Chance(0.5) ? 16 : 4 + g.Below(12);
  const std::uint32_t unused = g.Chance(0.5) ? 0 : g.Below(count / 2);
  AddArray(columns, Kind::Curve, count - unused, g);
  for (std::uint32_t i = 0; i < unused; ++i) {
    Column c = MakeColumn(Kind::SparseFloat, g);
    c.pool = {"0.8", "55000"};
    c.p = 0.02 + 0.1 * g.Uniform();
    c.filler = g.Chance(0.5) ? 0.1 + 0.8 * g.Uniform() : 0;
    columns.push_back(std::move(c));
  }
}

// Positions, bounds and curves of computed floats.
void AddGeometry(std::vector<Column>& columns, TableGenerator& g) {
  if (g.Chance(0.5)) AddArray(columns, Kind::Measured, 3, g);
  if (g.Chance(0.4)) {
    AddArray(columns, Kind::Computed, 3, g);
    AddArray(columns, Kind::Measured, 3, g);
  }
  if (g.Chance(0.5)) AddCurve(columns, g);
  if (g.Chance(0.3)) AddArray(columns, Kind::Measured, 1 + g.Below(4), g);
}

Kind RandomKind(TableGenerator& g) {
  static const Kind kinds[] = {
      Kind::Reference, Kind::Reference,   Kind::Reference, Kind::Reference,  Kind::Enum,
      Kind::Enum,      Kind::Flag,        Kind::Flag,      Kind::Count,      Kind::Count,
      Kind::Mask,      Kind::Signed,      Kind::Constant,  Kind::Constant,   Kind::Zero,
      Kind::Zero,      Kind::Zero,        Kind::Color,     Kind::Coordinate, Kind::Factor,
      Kind::Fraction,  Kind::SparseFloat, Kind::SparseSet, Kind::Duration,   Kind::ZeroFloat,
      Kind::Computed,  Kind::Name,        Kind::Path,      Kind::Text,       Kind::FewStrings};
  return kinds[g.Below(sizeof kinds / sizeof kinds[0])];
}

// Random columns, now and then an array among them, and now and then the
// filler in an int column.
void AddRandom(std::vector<Column>& columns, std::uint32_t count, TableGenerator& g) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (g.Chance(0.04)) {
      static const Kind arrays[] = {Kind::Reference, Kind::Count, Kind::SparseFloat,
                                    Kind::SparseSet, Kind::Path};
      const Kind kind = arrays[g.Below(5)];
      AddArray(columns, kind, 2 + g.Below(7), g);
      continue;
    }
    columns.push_back(MakeColumn(RandomKind(g), g));
    if (TypeOf(columns.back().kind) == FieldType::Int && g.Chance(0.02)) {
      columns.back().filler = 0.01 + 0.3 * g.Uniform();
    }
  }
}

// Long records of effect parameters: mostly-zero floats of small
// magnitudes, then, in some, colour channels and a blend mode in bytes, and
// a duration in an int, followed by a path, an int and two floats.
void AddEffectColumns(std::vector<Column>& columns, TableGenerator& g) {
  AddRandom(columns, g.Below(4), g);
  for (std::uint32_t i = 0, count = 8 + g.Below(33); i < count; ++i) {
    const std::uint32_t pick = g.Below(10);
    columns.push_back(MakeColumn(pick < 6   ? Kind::SparseFloat
                                 : pick < 8 ? Kind::SparseSet
                                 : pick < 9 ? Kind::ZeroFloat
                                            : Kind::Factor,
                                 g));
  }
  if (g.Chance(0.4)) {
    for (int i = 0; i < 3; ++i) columns.push_back(MakeColumn(Kind::Channel, g));
    if (g.Chance(0.5)) columns.push_back(MakeColumn(Kind::Channel, g));
    columns.push_back(MakeColumn(g.Chance(0.5) ? Kind::Blend : Kind::Channel, g));
    if (g.Chance(0.5)) columns.push_back(MakeColumn(Kind::Amount, g));
  }
  for (const Kind kind : {Kind::Path, Kind::Reference, Kind::SparseFloat, Kind::Factor}) {
    columns.push_back(MakeColumn(kind, g));
  }
}

// Conditions: small tables whose records hold runs of one-byte operators
// and operand kinds between the ints they compare.
void AddConditions(std::vector<Column>& columns, TableGenerator& g) {
  for (std::uint32_t i = 0, groups = 2 + g.Below(3); i < groups; ++i) {
    columns.push_back(MakeColumn(g.Chance(0.7) ? Kind::Reference : Kind::Enum, g));
    for (std::uint32_t b = 0, count = 1 + g.Below(3); b < count; ++b) {
      columns.push_back(MakeColumn(Kind::Operator, g));
    }
    columns.push_back(MakeColumn(g.Chance(0.5) ? Kind::Count : Kind::Constant, g));
  }
}

// Model and sound paths: one path column, and in some tables more beside it
// that each hold one of its paths in a few records.
void AddPaths(std::vector<Column>& columns, TableGenerator& g) {
  const std::uint32_t count = 1 + g.Below(4);
  const auto first = columns.size();
  AddArray(columns, Kind::Path, count, g);
  if (count == 1 || g.Chance(0.6)) return;
  for (std::size_t k = first + 1; k < columns.size(); ++k) {
    columns[k].pool = {
        columns[first].pool[g.Below(static_cast<std::uint32_t>(columns[first].pool.size()))]};
    columns[k].p = 0.05 + 0.4 * g.Uniform();
  }
}

// A few records of stats: a name, then ints of which some hold one value
// everywhere (1 more than any other).
void AddStats(std::vector<Column>& columns, TableGenerator& g) {
  columns.push_back(MakeColumn(Kind::Name, g));
  static const Kind kinds[] = {Kind::One,  Kind::One,  Kind::Constant, Kind::Count,
                               Kind::Enum, Kind::Flag, Kind::Reference};
  for (std::uint32_t i = 0, count = 2 + g.Below(7); i < count; ++i) {
    columns.push_back(MakeColumn(kinds[g.Below(7)], g));
  }
  if (g.Chance(0.3)) columns.push_back(MakeColumn(Kind::Path, g));
}

// The columns of the common shapes, the ones that start with an id.
void AddShape(std::vector<Column>& columns, std::uint32_t shape, std::uint32_t& records,
              TableGenerator& g) {
  if (shape < 44) {  // references, enums, flags, a name, now and then odd ints
    if (g.Chance(0.5)) columns.push_back(MakeColumn(Kind::Name, g));
    if (g.Chance(0.15)) AddLocaleBlock(columns, g);
    AddRandom(columns, g.Scale(1, 40), g);
    if (g.Chance(0.04)) AddGeometry(columns, g);
    for (const Kind odd : {Kind::HighMask, Kind::Filler, Kind::TimeStamp}) {
      if (g.Chance(0.05)) columns.push_back(MakeColumn(odd, g));
    }
  } else if (shape < 57) {  // localised text
    for (std::uint32_t i = 0, blocks = 1 + g.Below(3); i < blocks; ++i) {
      AddRandom(columns, g.Below(4), g);
      AddLocaleBlock(columns, g);
    }
    AddRandom(columns, g.Below(10), g);
  } else if (shape < 67) {  // effect parameters
    AddEffectColumns(columns, g);
    records = g.Scale(20, 8000);
  } else if (shape < 74) {  // model and sound paths
    AddRandom(columns, g.Below(4), g);
    AddPaths(columns, g);
    AddRandom(columns, g.Below(12), g);
    if (g.Chance(0.4)) records = g.Scale(5, 60);
  } else if (shape < 79) {  // small enums in bytes right after the id
    for (std::uint32_t i = 0, count = 2 + g.Below(3); i < count; ++i) {
      columns.push_back(MakeColumn(Kind::ByteEnum, g));
    }
    AddRandom(columns, 2 + g.Scale(1, 20), g);
  } else if (shape < 81) {  // conditions
    AddConditions(columns, g);
    records = 20 + g.Below(31);
  } else if (shape < 85) {  // positions, bounds, curves
    if (g.Chance(0.5)) columns.push_back(MakeColumn(g.Chance(0.5) ? Kind::Path : Kind::Name, g));
    AddRandom(columns, g.Below(3), g);
    AddGeometry(columns, g);
    AddRandom(columns, g.Below(4), g);
  } else {  // stats
    AddStats(columns, g);
    records = g.Scale(3, 40);
  }
}

// The columns of one table, and how many records it has.
std::vector<Column> MakeSchema(TableGenerator& g, std::uint32_t& records) {
  std::vector<Column> columns;
  records = g.Scale(1, 4000);
  const std::uint32_t shape = g.Below(100);
  if (shape >= 99) {  // one column of computed floats: a curve of its own
    columns.push_back(MakeColumn(g.Chance(0.7) ? Kind::Curve : Kind::Measured, g));
    columns.back().p = 1;
    records = g.Scale(50, 4000);
    return columns;
  }
  const bool bytesAfterId = shape >= 74 && shape < 79;
  if (g.Chance(0.95) || bytesAfterId) columns.push_back(MakeColumn(Kind::Id, g));
  if (shape >= 94) {  // tiny
    AddRandom(columns, 1 + g.Below(6), g);
    records = 1 + g.Below(3);
  } else {
    AddShape(columns, shape, records, g);
  }
  if (columns.empty()) columns.push_back(MakeColumn(Kind::Reference, g));
  return columns;
}

std::string Field(Column& c, const std::vector<std::string>& row, TableGenerator& g) {
  if (c.filler > 0 && g.Chance(c.filler)) {
    return TypeOf(c.kind) == FieldType::Float
               ? FloatText(std::bit_cast<float>(kFillerBits))
               : std::to_string(static_cast<std::int32_t>(kFillerBits));
  }
  switch (TypeOf(c.kind)) {
    case FieldType::Int:
      return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(IntValue(c, g))));
    case FieldType::Float:
      return FloatValue(c, g);
    case FieldType::String:
      return StringValue(c, row, g);
    case FieldType::Byte:
      return ByteValue(c, g);
  }
  return "0";
}

}  // namespace

std::uint64_t TableGenerator::Bits() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint32_t TableGenerator::Scale(std::uint32_t low, std::uint32_t high) {
  const auto octaves = static_cast<std::uint32_t>(std::bit_width(high / low));
  for (;;) {
    const double mantissa = low * (1 + Uniform());
    const double v = std::ldexp(mantissa, static_cast<int>(Below(octaves)));
    if (v <= high) return static_cast<std::uint32_t>(v);
  }
}

GeneratedTable TableGenerator::Next() {
  std::uint32_t records = 0;
  std::vector<Column> columns = MakeSchema(*this, records);
  GeneratedTable table;
  for (const Column& c : columns) {
    table.types.push_back(TypeOf(c.kind));
    table.kinds.push_back(kKindNames[static_cast<int>(c.kind)]);
    const bool zeroKind = c.kind == Kind::Zero;
    table.told.push_back(zeroKind || TypeOf(c.kind) == FieldType::Int ||
                         TypeOf(c.kind) == FieldType::Byte);
  }
  table.csv = TypeListText(table.types) + '\n';
  std::vector<std::string> row(columns.size());
  for (std::uint32_t r = 0; r < records; ++r) {
    for (std::size_t k = 0; k < columns.size(); ++k) {
      row[k] = Field(columns[k], row, *this);
      const bool isString = table.types[k] == FieldType::String;
      if (!row[k].empty() && row[k] != "0") table.told[k] = true;
      table.csv += k != 0 ? "," : "";
      table.csv += isString ? (row[k].empty() ? "" : Quoted(row[k])) : row[k];
    }
    table.csv += '\n';
  }
  return table;
}

}  // namespace dbcpack::testing
