// Placing the one-byte columns. Each four-byte window and each byte of a
// record is scored over the sample by the fewest bits that describe its
// values in some plausible way (as small or signed numbers, bit masks,
// floats or string offsets; as a dictionary of frequent values; as
// differences from the record before), and dynamic programming over
// (field, one-byte fields so far, whether the field before was one) finds
// the cheapest placement and the cheapest other one.
#include "guess/byte_placement.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "guess/record_sample.h"
#include "platform/two_threads.h"
#include "table/encoding.h"

namespace dbcpack {
namespace {

// The placement scores every window of a record, which costs far more per
// record than telling the types: a smaller sample.
constexpr std::uint32_t kPlacementRecords = 256;
// The table of choices, a byte per (field, one-byte fields so far).
constexpr std::uint64_t kMaxPlacementStates = std::uint64_t{1} << 24;
// Records of at least this many bytes are scored by two threads.
constexpr std::size_t kWindowsForTwoThreads = 64;
// Real tables begin with their key, a four-byte int, and keep their few
// one-byte columns together: what a placement that does otherwise must
// pay, in bits, before its data.
constexpr double kFirstFieldByteBits = 48;
constexpr double kByteRunBits = 12;
// Sampled records from which a one-byte field of zeros in every one of
// them is rare: in a table of a few dozen records an operator no record
// uses is not.
constexpr std::uint32_t kZeroByteRows = 32;

// A value no family codes well escapes to its significant bytes and their
// count: a word needing only its low byte costs what a one-byte column
// holding the same value costs, so that neither width is favoured.
constexpr double kByteWidthBits = 2;
constexpr double kRawByteBits = kByteWidthBits + 8;
constexpr double kNever = std::numeric_limits<double>::infinity();
// Floats with a binary exponent within +-40: what measurements, positions
// and factors hold. The bit patterns of ints below 2^29 or so never fall in
// that range, nor do those of small negative ints, which read as NaNs.
constexpr std::uint32_t kMinFloatExponent = 127 - 40;
constexpr std::uint32_t kMaxFloatExponent = 127 + 40;

double MagnitudeBits(std::uint64_t magnitude) {
  return 2.0 * static_cast<double>(std::bit_width(magnitude + 1) - 1);
}

// An Elias gamma code with a sign: a value and its width cost the same in a
// four-byte and in a one-byte column, so that neither width is favoured.
double SignedBits(std::int64_t value) {
  return value < 0 ? 2 + MagnitudeBits(static_cast<std::uint64_t>(-value))
                   : 1 + MagnitudeBits(static_cast<std::uint64_t>(value));
}

// Scratch space for SortedBits, kept across calls, and the logarithms of
// the counts of values a sample of `rows` records can hold, looked up
// rather than computed again for every window of a record.
struct SortScratch {
  explicit SortScratch(std::size_t rows) : log2(rows + 2) {
    for (std::size_t i = 1; i < log2.size(); ++i) log2[i] = std::log2(static_cast<double>(i));
  }
  // REQUIRES: `count` is a whole number from 1 to rows + 1.
  double Log2(double count) const { return log2[static_cast<std::size_t>(count)]; }

  std::vector<std::uint32_t> values;
  std::vector<std::pair<double, double>> runs;  // count, bits of the entry
  std::vector<double> log2;
};

// Bits of `scratch.values` coded as a table of the k most frequent distinct
// values (each with the bits `entryBits` gives it) with an adaptive code of
// which entry each value is, and an escape followed by a fixed-width code
// of the offset from the least value for the others, for the best k: all
// values in the table, none (a fixed-width code), or the frequent ones (a
// column of mostly zeros and otherwise of many values). The values are
// ordered as numbers by their bits with `sign` flipped (0, or the sign bit
// of a signed value). Leaves the values sorted, `sign` flipped.
template <typename EntryBits>
double SortedBits(SortScratch& scratch, std::uint32_t sign, EntryBits entryBits) {
  std::vector<std::uint32_t>& values = scratch.values;
  if (values.empty()) return 0;
  for (std::uint32_t& v : values) v ^= sign;
  std::sort(values.begin(), values.end());
  const double n = static_cast<double>(values.size());
  const double log2n = scratch.Log2(n);
  const double countBits = 0.5 * scratch.Log2(n + 1);
  const double width = std::log2(static_cast<double>(values.back() - values.front()) + 1);
  const double bounds = entryBits(values.front() ^ sign) + entryBits(values.back() ^ sign);
  scratch.runs.clear();
  for (std::size_t i = 0; i < values.size();) {
    std::size_t j = i + 1;
    while (j < values.size() && values[j] == values[i]) ++j;
    scratch.runs.emplace_back(static_cast<double>(j - i), entryBits(values[i] ^ sign));
    i = j;
  }
  std::sort(scratch.runs.begin(), scratch.runs.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  double table = 0;
  double escaped = n;
  double best = n * width + bounds;
  for (const auto& [count, entry] : scratch.runs) {
    table += count * (log2n - scratch.Log2(count)) + countBits + entry;
    escaped -= count;
    const double rest =
        escaped > 0 ? escaped * (log2n - scratch.Log2(escaped) + width) + bounds : 0;
    best = std::min(best, table + rest);
  }
  return best;
}

// The ways a four-byte value is plausibly made: a signed int, small or
// of few significant bytes, a bit mask (few bits set, or few clear), a
// float, or a string offset.
struct WordCode {
  static constexpr int kFamilies = 4;
  static constexpr int kWidth = 32;
  const StringStarts& strings;
  double stringBits;  // to name one string of the block

  double Family(int family, std::uint32_t v) const {
    switch (family) {
      case 0:
        return SignedBits(static_cast<std::int32_t>(v));
      case 1:
        return 4.0 + 5.0 * std::min(std::popcount(v), std::popcount(~v));
      case 2:
        return FloatBits(v);
      default:
        return StringBits(v);
    }
  }
  double StringBits(std::uint32_t v) const {
    if (v == 0) return 1;
    if (!strings.IsStart(v)) return kNever;
    return stringBits;
  }
  static double Escape(std::uint32_t v) {
    const std::int32_t s = static_cast<std::int32_t>(v);
    const std::uint32_t magnitude = s < 0 ? ~v : v;
    const int bits = static_cast<int>(std::bit_width(magnitude)) + (s < 0 ? 1 : 0);
    const int bytes = std::max(1, (bits + 7) / 8);
    return kByteWidthBits + 8.0 * bytes;
  }
  // A float costs its exponent and the significant bits of its mantissa,
  // or, when fewer, the digits of a short decimal that gives it: values
  // typed in as 0.35 or 1500 are short decimals, noise is neither.
  static double FloatBits(std::uint32_t v) {
    if ((v & 0x7FFFFFFF) == 0) return 2;
    const std::uint32_t exponent = (v >> 23) & 0xFF;
    if (exponent < kMinFloatExponent || exponent > kMaxFloatExponent) return kNever;
    const std::uint32_t mantissa = v & 0x7FFFFF;
    const double binary = 6.0 + (mantissa == 0 ? 0 : 23 - std::countr_zero(mantissa));
    return std::min(binary, DecimalBits(DecodeBits(v)));
  }
  static float DecodeBits(std::uint32_t v) {
    float value;
    std::memcpy(&value, &v, 4);
    return value;
  }
  // Sign, decimal places (0 to 7) and the digits of the shortest decimal
  // of at most seven digits that rounds to `value`.
  static double DecimalBits(float value) {
    constexpr double kPowers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
    const double x = value;
    for (int places = 0; places < 8; ++places) {
      const double digits = std::nearbyint(x * kPowers[places]);
      if (std::fabs(digits) >= 1e7) break;
      if (static_cast<float>(digits / kPowers[places]) == value) {
        return 4 + 3.33 * DigitCount(std::fabs(digits) + 1);
      }
    }
    return kNever;
  }
  // The decimal digits of a whole number from 1 to 10^7, as
  // floor(log10(n)) + 1 gives them, without a logarithm.
  static double DigitCount(double n) {
    const auto whole = static_cast<std::uint32_t>(n);
    double count = 1;
    for (std::uint32_t power = 10; power <= whole; power *= 10) ++count;
    return count;
  }
  // The sign bits that order values and differences as numbers.
  static constexpr std::uint32_t kSign = 0x80000000;
  static constexpr std::uint32_t kDeltaSign = 0x80000000;
  static std::int64_t DeltaValue(std::uint32_t d) { return static_cast<std::int32_t>(d); }
  static std::uint32_t Delta(std::uint32_t from, std::uint32_t to) { return to - from; }

  // A column of floats: the sign and exponent of each value coded over the
  // column as a whole, then the significant bits of its mantissa; a value
  // that is no float of the usual range escapes.
  static double ColumnOfFloats(const std::vector<std::uint32_t>& values, SortScratch& scratch) {
    constexpr std::uint32_t kEscaped = 1 << 9;
    scratch.values.clear();
    double bits = 0;
    std::size_t floats = 0;
    for (const std::uint32_t v : values) {
      if (FloatBits(v) == kNever) {
        bits += Escape(v);
        scratch.values.push_back(kEscaped);
        continue;
      }
      const std::uint32_t mantissa = v & 0x7FFFFF;
      floats += 1;
      bits += mantissa == 0 ? 0 : 23 - std::countr_zero(mantissa);
      scratch.values.push_back(v >> 23);
    }
    if (2 * floats < values.size()) return kNever;
    return bits + SortedBits(scratch, 0, [](std::uint32_t) { return 10.0; });
  }
};

// A one-byte value: small unsigned or small signed.
struct ByteCode {
  static constexpr int kFamilies = 2;
  static constexpr int kWidth = 8;

  double Family(int family, std::uint32_t v) const {
    return family == 0 ? SignedBits(v) : SignedBits(static_cast<std::int8_t>(v));
  }
  static constexpr std::uint32_t kSign = 0;
  static constexpr std::uint32_t kDeltaSign = 0x80;
  static std::int64_t DeltaValue(std::uint32_t d) { return static_cast<std::int8_t>(d); }
  static std::uint32_t Delta(std::uint32_t from, std::uint32_t to) { return (to - from) & 0xFF; }
  static double Escape(std::uint32_t) { return kRawByteBits; }
  static double ColumnOfFloats(const std::vector<std::uint32_t>&, SortScratch&) { return kNever; }
};

// Bits of the values as independent bits, each position coded by how often
// it is set: what flags and masks are, whose bits need not share a byte. A
// value of all ones (-1, 255), common beside flags, is an exception coded
// apart.
double BitPlaneBits(const std::vector<std::uint32_t>& values, int width,
                    const SortScratch& scratch) {
  const std::uint32_t allOnes = width == 32 ? ~0u : (1u << width) - 1;
  std::uint32_t ones[32] = {};
  std::uint32_t exceptions = 0;
  for (std::uint32_t v : values) {
    if (v == allOnes) {
      ++exceptions;
      continue;
    }
    for (; v != 0; v &= v - 1) ++ones[std::countr_zero(v)];
  }
  // n H(count / n), and the bits of the count.
  const auto entropy = [&scratch](double count, double n) {
    if (count == 0 || count == n) return 0.0;
    return n * scratch.Log2(n) - count * scratch.Log2(count) -
           (n - count) * scratch.Log2(n - count) + scratch.Log2(n + 1);
  };
  const double n = static_cast<double>(values.size());
  const double planes = n - exceptions;
  double bits = width + 1 + entropy(exceptions, n);  // which positions vary
  for (int b = 0; b < width; ++b) bits += entropy(ones[b], planes);
  return bits;
}

// Bits to describe one column of the sample, the least of: its bits one by
// one; each value in one family of codes; the values as a dictionary or a fixed-width range;
// each value as its difference from the record before, coded the same
// ways.
template <typename Code>
double ColumnBits(const Code& code, const std::vector<std::uint32_t>& values,
                  const std::vector<char>& follows, SortScratch& scratch) {
  double families[Code::kFamilies] = {};
  double heads = 0;
  double deltas = 0;
  const auto entry = [&code](std::uint32_t v) {
    double bits = Code::Escape(v);
    for (int f = 0; f < Code::kFamilies; ++f) bits = std::min(bits, code.Family(f, v));
    return bits;
  };
  const auto deltaBits = [](std::uint32_t d) {
    return std::min(Code::Escape(d), SignedBits(Code::DeltaValue(d)));
  };
  double best =
      std::min(Code::ColumnOfFloats(values, scratch), BitPlaneBits(values, Code::kWidth, scratch));
  scratch.values.clear();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double escape = Code::Escape(values[i]);
    for (int f = 0; f < Code::kFamilies; ++f) {
      families[f] += std::min(escape, code.Family(f, values[i]));
    }
    if (follows[i]) {
      scratch.values.push_back(Code::Delta(values[i - 1], values[i]));
      deltas += deltaBits(scratch.values.back());
    } else {
      heads += entry(values[i]);
    }
  }
  best = std::min(best, *std::min_element(families, families + Code::kFamilies));
  best = std::min(best, heads + std::min(deltas, SortedBits(scratch, Code::kDeltaSign, deltaBits)));
  scratch.values.assign(values.begin(), values.end());
  return std::min(best, SortedBits(scratch, Code::kSign, entry));
}

// Bits of every four-byte window and of every byte of a record, over the
// sample: words[p] reads bytes p to p + 3, bytes[p] byte p.
struct PlacementCosts {
  std::vector<double> words;
  std::vector<double> bytes;
};

PlacementCosts CostsOf(const RecordSample& sample, const StringStarts& strings) {
  // Naming a string takes the bits to pick one of the block's strings.
  const std::string_view block = strings.Block();
  const auto count = static_cast<double>(std::count(block.begin(), block.end(), '\0'));
  const WordCode wordCode{strings, 1 + std::log2(count + 1)};
  const std::size_t size = sample.recordSize;
  PlacementCosts costs;
  costs.words.assign(size >= 4 ? size - 3 : 0, 0);
  costs.bytes.assign(size, 0);
  // Each window is scored on its own: the two halves of a wide record on
  // two threads.
  platform::InTwoHalves(size, kWindowsForTwoThreads, [&](std::size_t begin, std::size_t end) {
    std::vector<std::uint32_t> values(sample.rows);
    SortScratch scratch(sample.rows);
    for (std::size_t p = begin; p < end; ++p) {
      const char* at = sample.bytes.data() + p;
      for (std::uint32_t r = 0; r < sample.rows; ++r, at += size) {
        values[r] = static_cast<unsigned char>(*at);
      }
      costs.bytes[p] = ColumnBits(ByteCode{}, values, sample.follows, scratch);
      if (p + 4 > size) continue;
      at = sample.bytes.data() + p;
      for (std::uint32_t r = 0; r < sample.rows; ++r, at += size) values[r] = DecodeFixed32(at);
      costs.words[p] = ColumnBits(wordCode, values, sample.follows, scratch);
    }
  });
  return costs;
}

// One way to reach a state of the search: its cost and where it came from
// (whether the field before was a one-byte one, and which of that state's
// two ways).
struct Way {
  double cost = kNever;
  std::uint8_t from = 0;
};

// The two cheapest ways of a state, cheapest first.
struct TwoWays {
  Way way[2];
  void Offer(double cost, std::uint8_t from) {
    if (cost < way[0].cost) {
      way[1] = way[0];
      way[0] = Way{cost, from};
    } else if (cost < way[1].cost) {
      way[1] = Way{cost, from};
    }
  }
};

// The search over (field k, one-byte fields j among the first k + 1,
// whether field k is one): the two cheapest ways into every state, and
// for each its predecessor, two bits a way, to walk back.
class PlacementSearch {
 public:
  PlacementSearch(std::uint32_t fields, std::uint32_t bytes, const PlacementCosts& costs)
      : fields_(fields),
        bytes_(bytes),
        width_(bytes + 1),
        costs_(costs),
        from_(static_cast<std::size_t>(fields) * width_) {}

  void Run();
  // The cheapest and the second cheapest placements, with their costs.
  double Best(int rank, std::vector<bool>& isByte) const;

 private:
  double ByteCost(std::uint32_t k, std::uint32_t j, bool afterByte) const {
    const std::size_t at = 4 * static_cast<std::size_t>(k - j + 1) + j - 1;
    return costs_.bytes[at] + (k == 0 ? kFirstFieldByteBits : 0) + (afterByte ? 0 : kByteRunBits);
  }
  double WordCost(std::uint32_t k, std::uint32_t j) const {
    return costs_.words[4 * static_cast<std::size_t>(k - j) + j];
  }

  std::uint32_t fields_;
  std::uint32_t bytes_;
  std::size_t width_;
  const PlacementCosts& costs_;
  std::vector<std::uint8_t> from_;  // per (k, j): 2 bits for each of its four ways
  std::vector<TwoWays> last_[2];    // per j, after the last field: as a word, as a byte
};

void PlacementSearch::Run() {
  std::vector<TwoWays> cur[2] = {std::vector<TwoWays>(width_), std::vector<TwoWays>(width_)};
  cur[0][0].way[0].cost = 0;  // before the first field, as if after a word
  for (std::uint32_t k = 0; k < fields_; ++k) {
    std::vector<TwoWays> next[2] = {std::vector<TwoWays>(width_), std::vector<TwoWays>(width_)};
    const std::uint32_t low = bytes_ > fields_ - k - 1 ? bytes_ - (fields_ - k - 1) : 0;
    const std::uint32_t high = std::min(k + 1, bytes_);
    for (std::uint32_t j = low; j <= high; ++j) {
      for (std::uint8_t before = 0; before < 4; ++before) {
        const bool afterByte = (before >> 1) != 0;
        const int rank = before & 1;
        if (j <= k) {
          const double cost = cur[afterByte][j].way[rank].cost;
          if (cost < kNever) next[0][j].Offer(cost + WordCost(k, j), before);
        }
        if (j > 0) {
          const double cost = cur[afterByte][j - 1].way[rank].cost;
          if (cost < kNever) next[1][j].Offer(cost + ByteCost(k, j, afterByte), before);
        }
      }
      std::uint8_t& packed = from_[static_cast<std::size_t>(k) * width_ + j];
      for (int isByte = 0; isByte < 2; ++isByte) {
        for (int rank = 0; rank < 2; ++rank) {
          packed |= static_cast<std::uint8_t>(next[isByte][j].way[rank].from
                                              << (2 * (2 * isByte + rank)));
        }
      }
    }
    cur[0].swap(next[0]);
    cur[1].swap(next[1]);
  }
  last_[0] = std::move(cur[0]);
  last_[1] = std::move(cur[1]);
}

double PlacementSearch::Best(int rank, std::vector<bool>& isByte) const {
  // The four ways into the final state, cheapest first.
  std::pair<double, std::uint8_t> ends[4];
  for (std::uint8_t w = 0; w < 4; ++w) ends[w] = {last_[w >> 1][bytes_].way[w & 1].cost, w};
  std::sort(ends, ends + 4);
  if (ends[rank].first == kNever) return kNever;
  isByte.assign(fields_, false);
  std::uint8_t way = ends[rank].second;
  for (std::uint32_t k = fields_, j = bytes_; k-- > 0;) {
    isByte[k] = (way >> 1) != 0;
    const std::uint8_t packed = from_[static_cast<std::size_t>(k) * width_ + j];
    if (isByte[k]) --j;
    way = (packed >> (2 * way)) & 3;
  }
  return ends[rank].first;
}

// Whether the two placements read the same value in every field of every
// sampled record.
bool SameValues(const RecordSample& sample, const std::vector<bool>& a,
                const std::vector<bool>& b) {
  for (std::uint32_t r = 0; r < sample.rows; ++r) {
    const char* const row = sample.Row(r);
    std::size_t atA = 0;
    std::size_t atB = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      const std::uint32_t valueA =
          a[k] ? static_cast<unsigned char>(row[atA]) : DecodeFixed32(row + atA);
      const std::uint32_t valueB =
          b[k] ? static_cast<unsigned char>(row[atB]) : DecodeFixed32(row + atB);
      if (valueA != valueB) return false;
      atA += a[k] ? 1 : 4;
      atB += b[k] ? 1 : 4;
    }
  }
  return true;
}

// How many one-byte fields of a placement read 0 in every sampled record.
std::size_t ZeroByteFields(const RecordSample& sample, const std::vector<bool>& isByte) {
  std::size_t zeros = 0;
  std::size_t at = 0;
  for (const bool byte : isByte) {
    bool zero = byte;
    for (std::uint32_t r = 0; r < sample.rows && zero; ++r) zero = sample.Row(r)[at] == 0;
    zeros += zero ? 1 : 0;
    at += byte ? 1 : 4;
  }
  return zeros;
}

}  // namespace

bool PlaceByteColumns(const TableImage& table, std::uint32_t bytes, const StringStarts& strings,
                      BytePlacement& placement) {
  const std::uint32_t fields = table.fieldCount;
  placement = BytePlacement();
  placement.isByte.assign(fields, false);
  if (bytes == 0) return true;
  // Without records nothing tells, nor when every field is one byte: the
  // one-byte columns are taken to be the last.
  if (bytes == fields || table.recordCount == 0) {
    std::fill(placement.isByte.end() - bytes, placement.isByte.end(), true);
    return true;
  }
  if (static_cast<std::uint64_t>(fields) * (bytes + 1) > kMaxPlacementStates) return false;
  const RecordSample sample = TakeSample(table, kPlacementRecords);
  const PlacementCosts costs = CostsOf(sample, strings);
  PlacementSearch search(fields, bytes, costs);
  search.Run();
  const double best = search.Best(0, placement.isByte);
  const double second = search.Best(1, placement.runnerUp);
  if (second == kNever || SameValues(sample, placement.isByte, placement.runnerUp)) {
    // A one-byte field beside a field of zeros reads the same either way:
    // an unused four-byte field is far more common than an unused byte,
    // but a key of one byte rarer still.
    if (second != kNever && (placement.isByte[0] || !placement.runnerUp[0]) &&
        ZeroByteFields(sample, placement.runnerUp) < ZeroByteFields(sample, placement.isByte)) {
      placement.isByte.swap(placement.runnerUp);
    }
    placement.runnerUp.clear();
    placement.margin = kNever;
  } else {
    placement.margin = second - best;
    // The high bytes of a small int read as a one-byte field of zeros
    // where the chosen placement reads none: no close call either.
    if (sample.rows >= kZeroByteRows &&
        ZeroByteFields(sample, placement.runnerUp) > ZeroByteFields(sample, placement.isByte)) {
      placement.margin = kNever;
    }
  }
  placement.marginPerRow = placement.margin / sample.rows;
  return true;
}

}  // namespace dbcpack
