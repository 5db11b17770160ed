// Fuzz target for the unpacking of one DBC file: arbitrary bytes are read
// as a DBC file, given column types (guessed, or taken from the input's
// first bytes), checked, written as CSV text and proven by the round-trip
// check. What the target checks for itself: an unsure guess offers another
// reading that fits the file; the text has one line per
// record; unless the writer warned, the text loads without a message and
// gives back every value; and "exact" is claimed exactly when loading the
// text and encoding it gives bytes identical to the file, which is worked
// out here apart from the check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dbc/dbc_encoder.h"
#include "dbc/dbc_reader.h"
#include "dbc/round_trip.h"
#include "fuzz_check.h"
#include "guess/type_guess.h"
#include "platform/large_memory.h"
#include "table/csv_writer.h"
#include "table/dbc_table.h"
#include "table/encoding.h"
#include "table/message_sink.h"

namespace {

using dbcpack::FieldType;

constexpr char kName[] = "f.dbc";

using dbcpack::fuzz::Check;
using dbcpack::fuzz::Fail;

// The input's first byte n: 0 lets the types be guessed; otherwise the
// next n bytes give one type each (their low two bits), and the file
// follows them.
bool SplitInput(std::string_view input, std::vector<FieldType>& types, std::string_view& file) {
  constexpr FieldType kTypes[] = {FieldType::Int, FieldType::Float, FieldType::Byte,
                                  FieldType::String};
  if (input.empty()) return false;
  const auto count = static_cast<unsigned char>(input[0]);
  if (input.size() < 1u + count) return false;
  for (std::size_t i = 1; i <= count; ++i) types.push_back(kTypes[input[i] & 3]);
  file = input.substr(1 + count);
  return true;
}

std::string_view StringAt(std::string_view block, std::uint32_t offset) {
  return std::string_view(block.data() + offset);
}

// Every value of `packed` equals that of `file`, strings compared as
// strings: what the CSV text must carry whatever the string block's layout.
void CheckSameValues(const dbcpack::TableImage& file, const dbcpack::TableImage& packed,
                     const std::vector<FieldType>& types) {
  Check(packed.recordCount == file.recordCount && packed.recordSize == file.recordSize &&
            packed.fieldCount == file.fieldCount,
        "the text reloads as a table of another shape");
  for (std::uint32_t r = 0; r < file.recordCount; ++r) {
    const char* a = file.Record(r).data();
    const char* b = packed.Record(r).data();
    for (std::size_t k = 0; k < types.size(); ++k) {
      const auto width = static_cast<std::size_t>(dbcpack::FieldTypeWidth(types[k]));
      if (types[k] == FieldType::String) {
        Check(StringAt(file.stringBlock, dbcpack::DecodeFixed32(a)) ==
                  StringAt(packed.stringBlock, dbcpack::DecodeFixed32(b)),
              "a string reloads differently", std::to_string(r) + "/" + std::to_string(k));
      } else {
        Check(std::memcmp(a, b, width) == 0, "a number reloads differently",
              std::to_string(r) + "/" + std::to_string(k));
      }
      a += width;
      b += width;
    }
  }
}

// Loads the text and encodes it, as dbcpack packs it, apart from the
// round-trip check: whether that gives the file's bytes.
bool RepacksIdentically(std::string_view csv, std::string_view file,
                        const dbcpack::TableImage& original, const std::vector<FieldType>& types,
                        bool warned) {
  dbcpack::DbcTable table;
  table.fileName = "f.csv";
  dbcpack::StringSink messages;
  const bool loaded = table.LoadCsvContent(csv, messages);
  Check(loaded || warned || original.recordCount == 0, "the text does not load", messages.Text());
  if (!loaded) return false;
  if (!warned) {
    Check(messages.Text() == "CSV file loaded 'f.csv'.\n", "the text loads with a message",
          messages.Text());
    CheckSameValues(original, table.Image(), types);
  }
  std::string bytes;
  const dbcpack::EncodedDbc encoded = dbcpack::EncodeDbc(table.Image());
  for (const std::string_view piece : encoded.Pieces()) bytes += piece;
  return bytes == file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<FieldType> types;
  std::string_view file;
  if (!SplitInput(std::string_view(reinterpret_cast<const char*>(data), size), types, file)) {
    return 0;
  }
  dbcpack::StringSink messages;
  dbcpack::TableImage table;
  if (!dbcpack::ReadDbc(file, kName, table, messages)) return 0;
  if (types.empty()) {
    dbcpack::TypeGuess guess;
    if (!dbcpack::GuessFieldTypes(table, guess, kName, messages, dbcpack::OtherReading::Read)) {
      return 0;
    }
    // The other reading is one to switch to: it fits the file as well.
    Check(guess.otherReading.empty() == guess.doubts.empty(),
          "an unsure guess without its other reading, or a sure one with one");
    Check(guess.otherReading.empty() ||
              (guess.otherReading != guess.types &&
               dbcpack::CheckTypesFit(table, guess.otherReading, kName, messages)),
          "the other reading does not fit the file");
    types = std::move(guess.types);
  }
  if (!dbcpack::CheckTypesFit(table, types, kName, messages)) return 0;
  dbcpack::SettleStringBlock(table, types, kName, messages);
  if (!dbcpack::CheckStringFields(table, types, kName, messages)) return 0;

  dbcpack::StringSink writeMessages;
  dbcpack::platform::LargeString csv;
  if (!dbcpack::WriteCsv(table, types, kName, csv, writeMessages)) {
    Check(writeMessages.Text().find("holds a NaN float") != std::string::npos,
          "the writer failed without naming a NaN", writeMessages.Text());
    return 0;
  }
  const std::string_view text(csv.data(), csv.size());
  std::size_t lines = 0;
  for (const char c : text) lines += c == '\n';
  Check(lines == std::size_t{table.recordCount} + 1 && text.back() == '\n',
        "the text is not one line per record after the header");

  const bool warned = !writeMessages.Text().empty();
  const bool identical = RepacksIdentically(text, file, table, types, warned);
  const dbcpack::RoundTrip result = dbcpack::CheckRoundTrip(text, file, table, types);
  Check(result.exact == identical,
        identical ? "an identical repack not called exact" : "a different repack called exact",
        result.difference);
  Check(result.exact == result.difference.empty(), "a difference given with an exact result",
        result.difference);
  return 0;
}
