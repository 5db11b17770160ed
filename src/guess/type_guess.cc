// The guess in three steps: the one-byte columns are placed; the columns
// that hold string offsets are chosen so that they explain the string
// block; every other four-byte column is a float or an int by what its
// values read as, or where they do not settle it, by the run of columns it
// stands in. Each step says what it is unsure of.
#include "guess/type_guess.h"

#include <cstdint>

#include "dbc/dbc_reader.h"
#include "guess/byte_placement.h"
#include "guess/column_evidence.h"
#include "guess/column_runs.h"
#include "guess/record_sample.h"
#include "guess/string_coverage.h"

namespace dbcpack {
namespace {

// The records whose distinct values are weighed.
constexpr std::uint32_t kSampleRecords = 2048;

// The four-byte columns: where each lies, and what its values say.
struct WordColumns {
  std::vector<std::uint32_t> fields;
  std::vector<std::size_t> offsets;
  std::vector<ColumnEvidence> evidence;
};

WordColumns EvidenceOfWords(const TableImage& table, const std::vector<bool>& isByte,
                            const StringStarts& strings) {
  const RecordSample sample = TakeSample(table, kSampleRecords);
  WordColumns words;
  std::size_t offset = 0;
  for (std::uint32_t k = 0; k < isByte.size(); ++k) {
    if (!isByte[k]) {
      words.fields.push_back(k);
      words.offsets.push_back(offset);
    }
    offset += isByte[k] ? 1 : 4;
  }
  words.evidence = EvidenceOf(table, sample, words.offsets, strings);
  return words;
}

// The string columns among the words, with a doubt for each string the
// block lets another column hold as well. Returns whether they explain
// the block.
bool ChooseStrings(const TableImage& table, const StringStarts& strings, const WordColumns& words,
                   TypeGuess& guess) {
  std::vector<StringCandidate> candidates;
  std::vector<std::uint32_t> candidateFields;
  std::vector<bool> blank(guess.types.size(), false);
  for (std::size_t i = 0; i < words.fields.size(); ++i) {
    blank[words.fields[i]] = !words.evidence[i].anyValue;
    if (!words.evidence[i].offsets) continue;
    candidates.push_back(StringCandidate{words.fields[i], words.offsets[i]});
    candidateFields.push_back(words.fields[i]);
  }
  if (candidates.empty()) return strings.Block().size() <= 1;
  const StringChoice choice = ChooseStringColumns(table, strings, candidates, blank);
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    if (choice.isString[c]) guess.types[candidateFields[c]] = FieldType::String;
  }
  for (const StringChoice::Doubt& doubt : choice.doubts) {
    std::vector<std::uint32_t> instead;
    for (const std::size_t c : doubt.instead) instead.push_back(candidateFields[c]);
    AddStringSwap(candidateFields[doubt.candidate], instead, guess.doubts);
  }
  for (const std::size_t c : choice.lone) AddStringOrInt(candidateFields[c], guess.doubts);
  for (const std::size_t c : choice.maybeStrings) AddIntOrString(candidateFields[c], guess.doubts);
  return choice.explainsBlock;
}

// The types under one placement of the one-byte columns, with what the
// values leave open; returns whether its string columns explain the block.
bool ReadAs(const TableImage& table, const std::vector<bool>& isByte, const StringStarts& strings,
            TypeGuess& guess) {
  guess.types.assign(isByte.size(), FieldType::Int);
  for (std::size_t k = 0; k < isByte.size(); ++k) {
    if (isByte[k]) guess.types[k] = FieldType::Byte;
  }
  const WordColumns words = EvidenceOfWords(table, isByte, strings);
  const bool explains = ChooseStrings(table, strings, words, guess);
  TypeFloatsAndInts(words.fields, words.evidence, guess.types, guess.doubts);
  return explains;
}

// The other reading: with the placement in doubt, the other placement read
// as a whole, since its fields are others; else every doubt taken the
// other way.
void ReadOtherWay(const TableImage& table, const BytePlacement& placement, bool placementSure,
                  const StringStarts& strings, TypeGuess& guess) {
  if (guess.doubts.empty()) return;
  if (!placementSure) {
    TypeGuess other;
    ReadAs(table, placement.runnerUp, strings, other);
    guess.otherReading = std::move(other.types);
    return;
  }
  guess.otherReading = guess.types;
  for (const TypeDoubt& doubt : guess.doubts) {
    for (const auto& [field, type] : doubt.instead) guess.otherReading[field] = type;
  }
}

}  // namespace

bool GuessFieldTypes(const TableImage& table, TypeGuess& guess, const std::string& name,
                     MessageSink& sink, OtherReading other) {
  const std::uint32_t fields = table.fieldCount;
  const auto bytes = static_cast<std::uint32_t>((4 * std::uint64_t{fields} - table.recordSize) / 3);
  // Offsets may point past a block the header under-states.
  const StringStarts strings(FileStringArea(table));
  BytePlacement placement;
  if (!PlaceByteColumns(table, bytes, strings, placement)) {
    sink.Print(
        "ERROR: '%s': Can't guess the field types: '%u' fields in '%u'-byte records must "
        "include '%u' 1-byte fields; give the types with --types.\n",
        name.c_str(), fields, table.recordSize, bytes);
    return false;
  }
  guess = TypeGuess();
  const bool explains = ReadAs(table, placement.isByte, strings, guess);
  if (!explains && !placement.runnerUp.empty()) {
    // A placement whose string columns do not explain the string block
    // misreads them; the other one, if its string columns do, is right.
    TypeGuess other;
    if (ReadAs(table, placement.runnerUp, strings, other)) {
      guess = std::move(other);
      placement.runnerUp.clear();
    }
  }
  std::vector<TypeDoubt> doubts;
  JudgePlacement(placement, doubts);
  guess.doubts.insert(guess.doubts.begin(), doubts.begin(), doubts.end());
  if (other == OtherReading::Read) ReadOtherWay(table, placement, doubts.empty(), strings, guess);
  return true;
}

}  // namespace dbcpack
