// Guessing the column types of a DBC file in two steps. First the places of
// the one-byte columns: every placement covers the same bytes, so each is
// scored by how few bits it takes to describe the sampled records read that
// way (a misaligned four-byte window mixes the bytes of two fields and reads
// as noise), and dynamic programming over (column, one-byte columns before
// it) finds the cheapest. Then each four-byte column is read as string
// offsets, floats or ints by what its values look like. Only a sample of
// the records is scored; the columns guessed as strings and floats are then
// checked on every record, so that a guess never names a type that the
// rest of the file contradicts.
#include "dbc/type_guess.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "table/encoding.h"

namespace dbcpack {
namespace {

// The first records are taken whole, so that a string first used there is
// seen where the table first uses it; runs spread evenly over the rest
// follow. A sample of 2 MiB at most: no more than a record when records
// are larger.
constexpr std::uint32_t kMaxSampleRecords = 2048;
// The placement of the one-byte columns scores every window of a record,
// which costs far more per record than telling the types: it looks at a
// smaller sample, taken the same way.
constexpr std::uint32_t kMaxPlacementRecords = 512;
constexpr std::uint32_t kPrefixRecords = 256;
constexpr std::uint32_t kRunRecords = 32;
constexpr std::uint64_t kMaxSampleBytes = 2 << 20;
// The placement's table of choices, one bit per (column, byte columns).
constexpr std::uint64_t kMaxPlacementStates = std::uint64_t{1} << 26;

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

// The records the guess looks at, copied side by side.
struct Sample {
  std::uint32_t rows = 0;
  std::vector<char> bytes;    // rows x record size
  std::vector<char> follows;  // whether a row is the record after the one before it
  std::uint64_t end = 0;      // the record after the last row
};

void AddRun(const TableImage& table, Sample& sample, std::uint32_t first, std::uint32_t count) {
  if (count == 0) return;
  const std::string_view run =
      table.records.substr(static_cast<std::size_t>(first) * table.recordSize,
                           static_cast<std::size_t>(count) * table.recordSize);
  sample.bytes.insert(sample.bytes.end(), run.begin(), run.end());
  sample.follows.push_back(sample.rows != 0 && sample.end == first ? 1 : 0);
  sample.follows.resize(sample.follows.size() + count - 1, 1);
  sample.rows += count;
  sample.end = static_cast<std::uint64_t>(first) + count;
}

Sample TakeSample(const TableImage& table, std::uint32_t maxRecords) {
  Sample sample;
  const std::uint64_t byBytes = kMaxSampleBytes / table.recordSize;
  const auto limit = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(byBytes, 1, maxRecords));
  const std::uint32_t count = table.recordCount;
  if (count <= limit) {
    AddRun(table, sample, 0, count);
    return sample;
  }
  const std::uint32_t prefix = std::min(kPrefixRecords, std::max<std::uint32_t>(1, limit / 4));
  AddRun(table, sample, 0, prefix);
  const std::uint32_t left = limit - prefix;
  if (left == 0) return sample;
  const std::uint32_t run = std::min(kRunRecords, left);
  const std::uint32_t runs = left / run;
  // At least `run` apart: count - prefix - run > left - run >= (runs - 1) x run.
  const std::uint64_t span = count - prefix - run;
  for (std::uint32_t i = 0; i < runs; ++i) {
    const std::uint64_t step = runs > 1 ? span * i / (runs - 1) : 0;
    AddRun(table, sample, prefix + static_cast<std::uint32_t>(step), run);
  }
  return sample;
}

// What the string block says of a value read as an offset into it.
class StringBlock {
 public:
  explicit StringBlock(std::string_view block)
      : block_(block),
        lastNul_(block.rfind('\0') == std::string_view::npos ? 0 : block.rfind('\0')),
        bits_(1 + std::log2(static_cast<double>(block.size()) + 1)) {}

  // Whether `offset` starts a non-empty string that ends inside the block:
  // it lies right behind a NUL and before the block's last NUL.
  bool StartsString(std::uint32_t offset) const {
    return offset != 0 && offset < lastNul_ && block_[offset - 1] == '\0' && block_[offset] != '\0';
  }
  // Bits to name a string of the block.
  double Bits(std::uint32_t offset) const {
    if (offset == 0) return 1;
    if (!StartsString(offset)) return kNever;
    return bits_;
  }

 private:
  std::string_view block_;
  std::size_t lastNul_;
  double bits_;
};

double MagnitudeBits(std::uint64_t magnitude) {
  return 2.0 * static_cast<double>(std::bit_width(magnitude + 1) - 1);
}

// An Elias gamma code with a sign: a value and its width cost the same in a
// four-byte and in a one-byte column, so that neither width is favoured.
double SignedBits(std::int64_t value) {
  return value < 0 ? 2 + MagnitudeBits(static_cast<std::uint64_t>(-value))
                   : 1 + MagnitudeBits(static_cast<std::uint64_t>(value));
}

// Scratch space for SortedBits, kept across calls.
struct SortScratch {
  std::vector<std::uint32_t> values;
  std::vector<std::pair<double, double>> runs;  // count, bits of the entry
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
  const double countBits = 0.5 * std::log2(n + 1);
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
    table += count * std::log2(n / count) + countBits + entry;
    escaped -= count;
    const double rest = escaped > 0 ? escaped * (std::log2(n / escaped) + width) + bounds : 0;
    best = std::min(best, table + rest);
  }
  return best;
}

// The ways a four-byte value is plausibly made: a signed int, small or
// of few significant bytes, a bit mask (few bits set, or few clear), a
// float, or a string offset.
struct WordCode {
  static constexpr int kFamilies = 4;
  const StringBlock& strings;

  double Family(int family, std::uint32_t v) const {
    switch (family) {
      case 0:
        return SignedBits(static_cast<std::int32_t>(v));
      case 1:
        return 4.0 + 5.0 * std::min(std::popcount(v), std::popcount(~v));
      case 2:
        return FloatBits(v);
      default:
        return strings.Bits(v);
    }
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
        return 4 + 3.33 * (std::floor(std::log10(std::fabs(digits) + 1)) + 1);
      }
    }
    return kNever;
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

// Bits to describe one column of the sample, the least of: each value in
// one family of codes; the values as a dictionary or a fixed-width range;
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
  double best = Code::ColumnOfFloats(values, scratch);
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

PlacementCosts CostsOf(const TableImage& table, const Sample& sample) {
  const StringBlock strings(table.stringBlock);
  const WordCode wordCode{strings};
  const std::size_t size = table.recordSize;
  PlacementCosts costs;
  costs.words.assign(size >= 4 ? size - 3 : 0, 0);
  costs.bytes.assign(size, 0);
  std::vector<std::uint32_t> values(sample.rows);
  SortScratch scratch;
  for (std::size_t p = 0; p < size; ++p) {
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
  return costs;
}

// Which of `fields` columns are the `bytes` one-byte ones: the placement of
// least cost. Of placements that cost the same, the one with the one-byte
// columns last: where the sample cannot tell, four-byte columns first.
std::vector<bool> PlaceByteColumns(std::uint32_t fields, std::uint32_t bytes,
                                   const PlacementCosts& costs) {
  const std::size_t width = static_cast<std::size_t>(bytes) + 1;
  std::vector<double> cost(width, kNever);
  std::vector<double> next(width);
  std::vector<bool> tookByte(static_cast<std::size_t>(fields) * width);
  cost[0] = 0;
  for (std::uint32_t k = 0; k < fields; ++k) {
    std::fill(next.begin(), next.end(), kNever);
    // j one-byte columns among the first k + 1; the rest must leave room.
    const std::uint32_t low = bytes > fields - k - 1 ? bytes - (fields - k - 1) : 0;
    const std::uint32_t high = std::min(k + 1, bytes);
    for (std::uint32_t j = low; j <= high; ++j) {
      // Column k starts after k - j four-byte and j (or j - 1) one-byte columns.
      const std::size_t wordAt = 4 * static_cast<std::size_t>(k - std::min(j, k)) + j;
      const std::size_t byteAt = j > 0 ? 4 * static_cast<std::size_t>(k - j + 1) + j - 1 : 0;
      const double asWord = j <= k ? cost[j] + costs.words[wordAt] : kNever;
      const double asByte = j > 0 ? cost[j - 1] + costs.bytes[byteAt] : kNever;
      next[j] = std::min(asWord, asByte);
      tookByte[static_cast<std::size_t>(k) * width + j] = asByte < asWord;
    }
    cost.swap(next);
  }
  std::vector<bool> isByte(fields);
  for (std::uint32_t k = fields, j = bytes; k-- > 0;) {
    isByte[k] = tookByte[static_cast<std::size_t>(k) * width + j];
    if (isByte[k]) --j;
  }
  return isByte;
}

// What the sampled values of a four-byte column look like.
struct WordFacts {
  std::uint32_t distinct = 0;  // values other than 0, counted up to 2
  std::uint32_t single = 0;    // the one such value, when distinct is 1
  bool allStrings = true;      // every value 0 or the start of a string
  bool floatRange = true;      // every value a float of the usual range or a zero
  std::uint32_t maskLike = 0;  // floats whose mantissa is only its lowest bits
  bool someFloat = false;      // a value that is a float other than a zero
};

// A float of the usual range whose mantissa is only its lowest bits, and
// no short decimal: 2.0000002 is the bit of 2.0 and a low bit, a mask.
// Measured floats have such a mantissa once in 2^15.
bool MaskLikeFloat(std::uint32_t v) {
  const std::uint32_t mantissa = v & 0x7FFFFF;
  return mantissa != 0 && (mantissa >> 8) == 0 &&
         WordCode::DecimalBits(WordCode::DecodeBits(v)) == kNever;
}

// A float outside the usual range that reads as a decimal of a few digits
// (1e-30, 2.5e12), as typed-in values do; the bits of an int seldom do.
bool ShortDecimalFloat(std::uint32_t v) {
  const std::uint32_t exponent = (v >> 23) & 0xFF;
  if (exponent == 0 || exponent == 0xFF) return false;
  char text[32];
  const char* const end = std::to_chars(text, text + sizeof text, WordCode::DecodeBits(v),
                                        std::chars_format::scientific)
                              .ptr;
  // d.ddde-xx: the digits are those before the exponent, bar the point.
  const char* const e = std::find(static_cast<const char*>(text), end, 'e');
  const auto digits =
      std::count_if(static_cast<const char*>(text), e, [](char c) { return c >= '0' && c <= '9'; });
  return digits <= 6;
}

WordFacts FactsOf(const Sample& sample, std::size_t size, std::size_t offset,
                  const StringBlock& strings) {
  WordFacts facts;
  for (std::uint32_t r = 0; r < sample.rows; ++r) {
    const std::uint32_t v = DecodeFixed32(sample.bytes.data() + r * size + offset);
    if (v == 0) continue;
    if (facts.distinct == 0 || (facts.distinct == 1 && v != facts.single)) ++facts.distinct;
    if (facts.distinct == 1) facts.single = v;
    facts.allStrings = facts.allStrings && strings.StartsString(v);
    if ((v & 0x7FFFFFFF) == 0) continue;
    facts.someFloat = true;
    facts.floatRange =
        facts.floatRange && (WordCode::FloatBits(v) < kNever || ShortDecimalFloat(v));
    facts.maskLike += facts.floatRange && MaskLikeFloat(v) ? 1 : 0;
  }
  return facts;
}

// The type a column's values alone tell; a column holding one string
// offset alone is left to ClaimSingleStrings.
FieldType WordType(const WordFacts& facts, std::uint32_t rows) {
  if (facts.distinct == 0) return FieldType::Int;
  if (facts.allStrings && facts.distinct > 1) return FieldType::String;
  const bool floats = facts.floatRange && facts.maskLike <= 1 + rows / 1000;
  if (floats && facts.someFloat) return FieldType::Float;
  return FieldType::Int;
}

// The columns of a guess: their types and where each lies in a record.
struct Columns {
  std::vector<FieldType> types;
  std::vector<std::size_t> offsets;
  std::vector<WordFacts> facts;
};

bool HoldsSingleString(const Columns& columns, std::size_t k) {
  const WordFacts& facts = columns.facts[k];
  return columns.types[k] == FieldType::Int && facts.distinct == 1 && facts.allStrings;
}

// A column whose values are 0 and one string offset (flags of 0 and 1
// always are: offset 1 starts the first string) is a string column only if
// that string needs it. Every string of a block is used by a string
// column, so a string that no column of several strings uses belongs to
// the first column to hold it, and the others holding it are ints; but the
// first column of a table is its key far more often than a string, and
// yields to a later one.
void ClaimSingleStrings(const Sample& sample, std::size_t size, Columns& columns) {
  const std::size_t count = columns.types.size();
  std::vector<char> settled(count, 0);
  for (std::size_t k = 0; k < count; ++k) {
    if (!HoldsSingleString(columns, k) || settled[k]) continue;
    const std::uint32_t v = columns.facts[k].single;
    bool used = false;
    std::size_t first = count;
    for (std::uint32_t r = 0; r < sample.rows && !used; ++r) {
      const char* record = sample.bytes.data() + static_cast<std::size_t>(r) * size;
      for (std::size_t c = 0; c < count && !used; ++c) {
        const bool string = columns.types[c] == FieldType::String;
        if (!string && !HoldsSingleString(columns, c)) continue;
        if (DecodeFixed32(record + columns.offsets[c]) != v) continue;
        used = string;
        const bool claims = !string && columns.facts[c].single == v;
        if (claims && (first == count || first == 0)) first = c;
      }
    }
    for (std::size_t c = k; c < count; ++c) {
      if (HoldsSingleString(columns, c) && columns.facts[c].single == v) settled[c] = 1;
    }
    if (!used && first < count) columns.types[first] = FieldType::String;
  }
}

bool IsNan(std::uint32_t v) { return (v & 0x7F800000) == 0x7F800000 && (v & 0x7FFFFF) != 0; }

// Checks the columns guessed as strings and floats on every record, not
// only on the sample: a string column must hold starts of strings
// throughout, a float column no NaN, which CSV text cannot carry. A column
// that fails is an int, which any bits are.
void ConfirmOnEveryRecord(const TableImage& table, const StringBlock& strings, Columns& columns) {
  std::vector<std::size_t> checked;
  for (std::size_t k = 0; k < columns.types.size(); ++k) {
    const FieldType type = columns.types[k];
    if (type == FieldType::String || type == FieldType::Float) checked.push_back(k);
  }
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount && !checked.empty(); ++r) {
    for (auto it = checked.begin(); it != checked.end();) {
      const std::uint32_t v = DecodeFixed32(record + columns.offsets[*it]);
      const bool fits =
          columns.types[*it] == FieldType::String ? v == 0 || strings.StartsString(v) : !IsNan(v);
      if (fits) {
        ++it;
      } else {
        columns.types[*it] = FieldType::Int;
        it = checked.erase(it);
      }
    }
    record += table.recordSize;
  }
}

// Which columns are the one-byte ones. Without records nothing tells, and
// they are taken to be the last, as ties are.
bool FindByteColumns(const TableImage& table, std::uint32_t bytes, std::vector<bool>& isByte) {
  const std::uint32_t fields = table.fieldCount;
  isByte.assign(fields, false);
  if (bytes == 0) return true;
  if (bytes == fields || table.recordCount == 0) {
    std::fill(isByte.end() - bytes, isByte.end(), true);
    return true;
  }
  if (static_cast<std::uint64_t>(fields) * (bytes + 1) > kMaxPlacementStates) return false;
  isByte = PlaceByteColumns(fields, bytes, CostsOf(table, TakeSample(table, kMaxPlacementRecords)));
  return true;
}

}  // namespace

bool GuessFieldTypes(const TableImage& table, std::vector<FieldType>& types,
                     const std::string& name, MessageSink& sink) {
  const std::uint32_t fields = table.fieldCount;
  const auto bytes = static_cast<std::uint32_t>((4 * std::uint64_t{fields} - table.recordSize) / 3);
  const Sample sample = TakeSample(table, kMaxSampleRecords);
  std::vector<bool> isByte;
  if (!FindByteColumns(table, bytes, isByte)) {
    sink.Print(
        "ERROR: '%s': Can't guess the field types: '%u' fields in '%u'-byte records must "
        "include '%u' 1-byte fields; give the types with --types.\n",
        name.c_str(), fields, table.recordSize, bytes);
    return false;
  }
  const StringBlock strings(table.stringBlock);
  Columns columns;
  columns.types.assign(fields, FieldType::Byte);
  columns.offsets.resize(fields);
  columns.facts.resize(fields);
  std::size_t offset = 0;
  for (std::uint32_t k = 0; k < fields; ++k) {
    columns.offsets[k] = offset;
    if (isByte[k]) {
      offset += 1;
      continue;
    }
    columns.facts[k] = FactsOf(sample, table.recordSize, offset, strings);
    columns.types[k] = WordType(columns.facts[k], sample.rows);
    offset += 4;
  }
  ClaimSingleStrings(sample, table.recordSize, columns);
  ConfirmOnEveryRecord(table, strings, columns);
  types = std::move(columns.types);
  return true;
}

}  // namespace dbcpack
