// Writes DBC files full of what spreadsheets trip over, for the round trip
// through a real spreadsheet program (.ci/spreadsheet.sh): strings that look
// like numbers (leading zeros, signs, a date), that start like a formula,
// that hold commas, semicolons, quotes, backslashes before n and r, line
// breaks (which dbcunpack writes as \n), UTF-8, spaces, or nothing, and a
// few very long ones; floats, negative ints, bytes. Also a layouts file with
// every table's types, so that the unpack needs no guess.
//
// Usage: spreadsheet_tables DIR COUNT SEED
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dbc/dbc_encoder.h"
#include "hard_strings.h"
#include "table/csv_writer.h"
#include "table/dbc_table.h"
#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/number_format.h"

namespace {

using dbcpack::FieldType;

// Whole strings every table holds in its first string column, one a record:
// what a spreadsheet that reads a CSV file with its own defaults changes.
const char* const kWhole[] = {"007", "200", "26157", "+5",  "-3",   "=1+1",       "==",
                              "@x",  "1/2", "-x",    "1e5", "TRUE", "  padded  ", "0.50"};

// Typed-in decimals mostly, any other float now and then; never a NaN,
// which no text carries, nor -0, which Calc writes as 0, nor a float
// between 1e-15 and 1e-12, which Calc writes with 20 decimals, dropping the
// last of its nine digits (1.3786637e-14 as 0.00000000000001378664).
std::string FloatText(std::mt19937_64& random) {
  float value;
  if (random() % 3 != 0) {
    // One draw a statement, so that every compiler makes the same tables.
    const auto steps = static_cast<std::int64_t>(random() % 20001) - 10000;
    value = static_cast<float>(steps) / static_cast<float>(1u << (random() % 8));
  } else {
    std::uint32_t bits;
    do bits = static_cast<std::uint32_t>(random());
    while (dbcpack::IsNanBits(bits) || bits == 0x80000000u ||
           (std::fabs(std::bit_cast<float>(bits)) >= 1e-15f &&
            std::fabs(std::bit_cast<float>(bits)) < 1e-12f));
    value = std::bit_cast<float>(bits);
  }
  char text[dbcpack::kMaxFloatText];
  return std::string(text, dbcpack::FormatFloat(value, text));
}

std::string Value(FieldType type, std::mt19937_64& random) {
  switch (type) {
    case FieldType::String:
      return dbcpack::testing::HardString(random);
    case FieldType::Float:
      return FloatText(random);
    case FieldType::Byte:
      return std::to_string(random() % 256);
    case FieldType::Int:
      break;
  }
  const std::uint64_t bits = random();
  return std::to_string(static_cast<std::int32_t>(bits >> (random() % 40)));
}

// One table's text in the dialect, its first string column holding the
// whole strings above in its first records.
std::string TableText(const std::vector<FieldType>& types, std::mt19937_64& random) {
  std::string text = dbcpack::TypeListText(types) + "\n";
  const std::size_t records = std::size(kWhole) + random() % 40;
  for (std::size_t r = 0; r < records; ++r) {
    bool first = true;
    for (std::size_t k = 0; k < types.size(); ++k) {
      std::string value = Value(types[k], random);
      if (types[k] == FieldType::String && first && r < std::size(kWhole)) value = kWhole[r];
      if (types[k] == FieldType::String) first = false;
      if (k != 0) text += ',';
      const bool quoted = types[k] == FieldType::String && !value.empty();
      text += quoted ? dbcpack::QuotedCsvString(value) : value;
    }
    text += '\n';
  }
  return text;
}

bool WriteTable(const std::string& path, const std::string& text) {
  dbcpack::DbcTable table;
  table.fileName = path;
  dbcpack::StringSink said;
  if (!table.LoadCsvContent(text, said)) {
    std::fprintf(stderr, "%s", said.Text().c_str());
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string_view piece : dbcpack::EncodeDbc(table.Image()).Pieces()) {
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "Usage: spreadsheet_tables DIR COUNT SEED\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int count = std::atoi(argv[2]);
  std::mt19937_64 random(std::strtoull(argv[3], nullptr, 10));
  const FieldType kTypes[] = {FieldType::Int, FieldType::Float, FieldType::Byte, FieldType::String};
  std::ofstream layouts(dir + "/layouts.txt");
  for (int i = 0; i < count; ++i) {
    std::vector<FieldType> types{FieldType::Int, FieldType::String};
    const std::size_t more = random() % 12;
    for (std::size_t k = 0; k < more; ++k) types.push_back(kTypes[random() % 4]);
    char name[32];
    std::snprintf(name, sizeof name, "table%02d.dbc", i + 1);
    if (!WriteTable(dir + "/" + name, TableText(types, random))) return 1;
    layouts << name << ' ' << dbcpack::TypeListText(types) << '\n';
  }
  return layouts ? 0 : 1;
}
