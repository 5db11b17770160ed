// The evidence of one column. The constraints (string starts, NaNs) hold
// on every record or not at all; the weighing of float against int looks
// at the distinct values of the sample, since what matters is which values
// a column holds rather than how often. A typed-in float is a short
// decimal (0.0375, 2.5, 1500) whose bits are many; an int that only reads
// like a float has few bits set (a mask with a high bit), and a column of
// masks few bits between all its values. A value of many digits is a
// computed float far more often than an int, but for a time stamp; the
// same byte four times (a filler) tells nothing.
#include "guess/column_evidence.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <vector>

#include "platform/two_threads.h"
#include "table/encoding.h"

namespace dbcpack {
namespace {

constexpr std::uint32_t kMinFloatExponent = 127 - 40;
constexpr std::uint32_t kMaxFloatExponent = 127 + 40;
// Digits of a typed-in value at most; floats from arbitrary bits need 7 to 9.
constexpr int kShortDigits = 6;
// Beyond the usual exponents a typed-in value is written with a digit or
// a few (1e-30, 2.5e12, 1.2345E19); six digits there are what one random
// pattern in ten reads as, a colour or a count among them.
constexpr int kExtremeDigits = 5;
// Bits set in a mask at most.
constexpr int kMaskBits = 4;
// A mask of few bits that reads as a short decimal has decimal places
// only a binary fraction has (2.0625 is bits 30 and 18): typed-in values
// have fewer.
constexpr int kMaskPlaces = 3;
// Bits in use over all values of a column of masks at most: the values
// of computed floats use nearly all 32 between them.
constexpr int kMaskColumnBits = 12;
// Distinct values weighed at most.
constexpr std::size_t kWeighedValues = 256;
// Tables of at least this many records are checked by two threads.
constexpr std::size_t kRecordsForTwoThreads = 4096;

// A binary exponent within +-40: what measurements, positions and factors
// hold, and what a check of every record meets nearly always.
bool UsualExponent(std::uint32_t bits) {
  const std::uint32_t exponent = (bits >> 23) & 0xFF;
  return exponent - kMinFloatExponent <= kMaxFloatExponent - kMinFloatExponent;
}

// The constraints of records [first, end), record by record over all
// columns at once (a record is read from memory once, not once a column); a
// column leaves the pass once it has a value and can be neither offsets nor
// floats.
void CheckRecords(const TableImage& table, std::uint32_t first, std::uint32_t end,
                  const std::vector<std::size_t>& offsets, const StringStarts& strings,
                  std::vector<ColumnEvidence>& evidence) {
  std::vector<std::size_t> open(offsets.size());
  for (std::size_t i = 0; i < open.size(); ++i) open[i] = i;
  const char* record = table.records.data() + std::size_t{first} * table.recordSize;
  for (std::uint32_t r = first; r < end && !open.empty(); ++r) {
    for (std::size_t n = 0; n < open.size();) {
      ColumnEvidence& e = evidence[open[n]];
      const std::uint32_t v = DecodeFixed32(record + offsets[open[n]]);
      if (v != 0) {
        e.anyValue = true;
        e.offsets = e.offsets && strings.IsStart(v);
        e.floats = e.floats && (UsualExponent(v) || PlausibleFloat(v));
      }
      if (e.anyValue && !e.offsets && !e.floats) {
        open[n] = open.back();
        open.pop_back();
      } else {
        ++n;
      }
    }
    record += table.recordSize;
  }
}

// Every record, in two halves on two threads when there are many.
void CheckEveryRecord(const TableImage& table, const std::vector<std::size_t>& offsets,
                      const StringStarts& strings, std::vector<ColumnEvidence>& evidence) {
  std::vector<ColumnEvidence> second(evidence.size());
  platform::InTwoHalves(
      table.recordCount, kRecordsForTwoThreads, [&](std::size_t first, std::size_t end) {
        CheckRecords(table, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end),
                     offsets, strings, first == 0 ? evidence : second);
      });
  for (std::size_t i = 0; i < evidence.size(); ++i) {
    evidence[i].anyValue = evidence[i].anyValue || second[i].anyValue;
    evidence[i].offsets = evidence[i].offsets && second[i].offsets;
    evidence[i].floats = evidence[i].floats && second[i].floats;
  }
}

// Places after the point of the shortest decimal that gives the float,
// written without an exponent.
int DecimalPlaces(std::uint32_t bits) {
  char text[64];  // the smallest floats take 45 places
  const char* const end =
      std::to_chars(text, text + sizeof text, std::bit_cast<float>(bits), std::chars_format::fixed)
          .ptr;
  const char* const point = std::find(static_cast<const char*>(text), end, '.');
  return point == end ? 0 : static_cast<int>(end - point - 1);
}

// The same byte four times: memory a writing tool never set (0xCCCCCCCC),
// found in int and float columns alike. -1 is no filler but an int.
bool Filler(std::uint32_t v) { return v != 0 && v != 0xFFFFFFFF && v == (v & 0xFF) * 0x01010101u; }

// Weights of one distinct value: + for a float, - for an int.
constexpr double kTypedIn = 1;
constexpr double kComputed = 0.5;
constexpr double kMask = -1;
// Time stamps since 1978, as ints; as floats, every positive one above
// 1e-29.
constexpr std::uint32_t kLeastStamp = 1u << 28;

// Weighs one distinct value; counts the positive ones of many digits.
// `fewBits`: the column's values use few bits between them, as masks do.
void Weigh(std::uint32_t v, bool fewBits, ColumnEvidence& evidence, std::uint32_t& positiveNoise) {
  ++evidence.weighed;
  if ((v & 0x7FFFFFFF) == 0) return;  // -0
  const bool fewOwnBits = std::popcount(v) <= kMaskBits;
  const bool shortDecimal = ShortestDigits(v) <= kShortDigits;
  // A round float is also a mask of a few bits (2.5 is bits 30 and 21),
  // but float columns are far more common than masks of high bits; not so
  // where the decimal places are those of a binary fraction.
  const bool binaryFraction = shortDecimal && fewOwnBits && DecimalPlaces(v) >= kMaskPlaces;
  if (shortDecimal && !binaryFraction) {
    evidence.floatLean += kTypedIn;
    evidence.floatFor += kTypedIn;
    // 2.0 is bit 30 too, a flag; 3.0 and 0.5 are seldom masks.
    evidence.plainDecimal = evidence.plainDecimal || std::popcount(v & 0x7FFFFFFF) > 1;
  } else if (fewBits || fewOwnBits) {
    evidence.floatLean += kMask;
    evidence.floatAgainst -= kMask;
  } else {
    // Computed floats and large ints alike; large ints are rare but for
    // time stamps, which a column keeps within weeks of one another.
    evidence.floatLean += kComputed;
    positiveNoise += (v >> 31) == 0 ? 1 : 0;
  }
}

void WeighValues(const RecordSample& sample, std::size_t offset, ColumnEvidence& evidence) {
  std::vector<std::uint32_t> values;
  values.reserve(sample.rows);
  for (std::uint32_t r = 0; r < sample.rows; ++r) {
    const std::uint32_t v = DecodeFixed32(sample.Row(r) + offset);
    if (v != 0) values.push_back(v);
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  std::erase_if(values, [](std::uint32_t v) { return Filler(v); });
  // Evenly over the range of values when there are many.
  const std::size_t step = values.size() / kWeighedValues + 1;
  std::uint32_t used = 0;
  for (std::size_t i = 0; i < values.size(); i += step) used |= values[i];
  const bool fewBits = values.size() >= 2 && std::popcount(used) <= kMaskColumnBits;
  std::uint32_t positiveNoise = 0;
  for (std::size_t i = 0; i < values.size(); i += step) {
    Weigh(values[i], fewBits, evidence, positiveNoise);
  }
  if (values.empty()) return;
  evidence.low = values.front();
  evidence.high = values.back();
  // Large floats have few digits now and then: a time stamp's are mostly
  // many.
  evidence.stampLike = evidence.weighed >= 2 && 2 * positiveNoise >= evidence.weighed &&
                       evidence.low >= kLeastStamp && evidence.high <= 0x7FFFFFFF &&
                       evidence.high - evidence.low <= kStampSpread;
}

}  // namespace

int ShortestDigits(std::uint32_t bits) {
  char text[32];
  const char* const end = std::to_chars(text, text + sizeof text, std::bit_cast<float>(bits),
                                        std::chars_format::scientific)
                              .ptr;
  // d.ddde-xx: the digits are those before the exponent.
  const char* const e = std::find(static_cast<const char*>(text), end, 'e');
  return static_cast<int>(std::count_if(static_cast<const char*>(text), e,
                                        [](char c) { return c >= '0' && c <= '9'; }));
}

bool PlausibleFloat(std::uint32_t bits) {
  if (UsualExponent(bits)) return true;
  const std::uint32_t exponent = (bits >> 23) & 0xFF;
  // Zeros, and the largest float, which tables hold for "no limit".
  if ((bits & 0x7FFFFFFF) == 0 || (bits & 0x7FFFFFFF) == 0x7F7FFFFF) return true;
  // No filler has either exponent.
  if (exponent == 0 || exponent == 0xFF) return false;
  return Filler(bits) || ShortestDigits(bits) <= kExtremeDigits;
}

std::vector<ColumnEvidence> EvidenceOf(const TableImage& table, const RecordSample& sample,
                                       const std::vector<std::size_t>& offsets,
                                       const StringStarts& strings) {
  std::vector<ColumnEvidence> evidence(offsets.size());
  CheckEveryRecord(table, offsets, strings, evidence);
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    if (!evidence[i].anyValue) {
      evidence[i].offsets = false;
    } else if (evidence[i].floats) {
      WeighValues(sample, offsets[i], evidence[i]);
    }
  }
  return evidence;
}

}  // namespace dbcpack
