// The evidence of one column. The constraints (string starts, NaNs) hold
// on every record or not at all; the weighing of float against int looks
// at the distinct values of the sample, since what matters is which values
// a column holds rather than how often. A typed-in float is a short
// decimal (0.0375, 2.5, 1500) whose bits are many; an int that only reads
// like a float has few bits set (a mask with a high bit), or the same byte
// four times (a filler), and is no short decimal.
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
// Bits set in a mask at most.
constexpr int kMaskBits = 4;
// Distinct values weighed at most.
constexpr std::size_t kWeighedValues = 256;
// Tables of at least this many records are checked by two threads.
constexpr std::size_t kRecordsForTwoThreads = 4096;

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
        e.floats = e.floats && PlausibleFloat(v);
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

bool Filler(std::uint32_t v) { return v != 0 && v == (v & 0xFF) * 0x01010101u; }

// Weight of a value that is neither a short decimal nor a mask: a computed
// float, or a large int such as a time stamp. Negative floats are common,
// large negative ints are not.
constexpr double kNegativeNoise = 0.5;
constexpr double kPositiveNoise = -0.25;

// One distinct value's weight: + for a float, - for an int; `noise` is set
// for a value that is neither a short decimal nor a mask.
double FloatWeight(std::uint32_t v, bool& noise) {
  noise = false;
  if (Filler(v)) return -2;
  if ((v & 0x7FFFFFFF) == 0) return 0;  // -0
  // A round float is also a mask of a few bits (2.5 is bits 30 and 21),
  // but float columns are far more common than masks of high bits.
  if (ShortestDigits(v) <= kShortDigits) return 1;
  if (std::popcount(v) <= kMaskBits) return -1;
  noise = true;
  return (v >> 31) != 0 ? kNegativeNoise : kPositiveNoise;
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
  // Evenly over the range of values when there are many.
  const std::size_t step = values.size() / kWeighedValues + 1;
  std::size_t weighed = 0;
  std::size_t noisy = 0;
  std::size_t negative = 0;
  for (std::size_t i = 0; i < values.size(); i += step, ++weighed) {
    bool noise;
    const double weight = FloatWeight(values[i], noise);
    evidence.floatLean += weight;
    if (!noise) (weight > 0 ? evidence.floatFor : evidence.floatAgainst) += std::abs(weight);
    noisy += noise ? 1 : 0;
    negative += noise && (values[i] >> 31) != 0 ? 1 : 0;
  }
  if (weighed != 0) {
    evidence.noiseShare = static_cast<double>(noisy) / static_cast<double>(weighed);
    evidence.negativeNoiseShare = static_cast<double>(negative) / static_cast<double>(weighed);
  }
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
  const std::uint32_t exponent = (bits >> 23) & 0xFF;
  if (exponent - kMinFloatExponent <= kMaxFloatExponent - kMinFloatExponent) return true;
  // Zeros, and the largest float, which tables hold for "no limit".
  if ((bits & 0x7FFFFFFF) == 0 || (bits & 0x7FFFFFFF) == 0x7F7FFFFF) return true;
  if (exponent == 0 || exponent == 0xFF) return false;
  return ShortestDigits(bits) <= kShortDigits;
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
