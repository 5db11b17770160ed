// Writing a table as CSV text, fast enough to be no more than a small part of
// an unpack. The text is built in a staging buffer that stays in the cache
// and goes to the output in large appends; the output is reserved once, from
// the text of a sample of the records, so that it seldom grows and is never
// zero-filled ahead of the writing. Numbers are formatted without a heap
// allocation, and what a string needs (its length, whether it must be
// escaped) is remembered per offset, since real tables repeat their strings.
#include "table/csv_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "table/encoding.h"
#include "table/number_parse.h"

namespace dbcpack {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z: ends a text file
constexpr std::uint32_t kSignBit = 0x80000000u;
constexpr std::uint32_t kExponentBits = 0x7F800000u;
constexpr std::size_t kMaxIntText = 11;  // "-2147483648"
constexpr std::size_t kStageSize = std::size_t{64} << 10;
// Strings longer than this bypass the staging buffer.
constexpr std::size_t kLongString = kStageSize / 4;
constexpr std::size_t kShortString = 32;

// ---- Integers -----------------------------------------------------------

constexpr std::uint64_t kAsciiZeros = 0x3030303030303030u;

// The eight decimal digits of v < 10^8 as values 0 to 9 in the bytes of a
// word, the first digit in the lowest byte. The halves, then their halves
// and so on are split off with multiplications by reciprocals, exact in
// this range, all lanes at once: no division and no loop.
inline std::uint64_t EightDigits(std::uint32_t v) {
  const std::uint64_t q = (std::uint64_t{v} * std::uint64_t{109951163}) >> 40;  // v / 10^4
  const std::uint64_t halves = q | ((v - q * 10000) << 32);
  const std::uint64_t q2 = ((halves * 5243) >> 19) & 0x0000007F0000007Fu;  // / 100
  const std::uint64_t quarters = (halves << 16) - q2 * 0x63FFFFu;
  const std::uint64_t q3 = ((quarters * 103) >> 10) & 0x000F000F000F000Fu;  // / 10
  return (quarters << 8) - q3 * 2559u;
}

// Stores the bytes of `word` at `w`, the lowest first.
inline void Store8(char* w, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::big) {
    for (int i = 0; i < 8; ++i) w[i] = static_cast<char>(word >> (8 * i));
  } else {
    std::memcpy(w, &word, 8);
  }
}

// Writes `v` in decimal and returns its end. Up to eleven bytes from `w`
// may be overwritten. Branches only on v >= 10^8: in a column of mixed
// magnitudes a branch per digit count would often be mispredicted.
inline char* WriteUnsigned(char* w, std::uint32_t v) {
  if (v >= 100000000) {
    const std::uint32_t high = v / 100000000;  // 1 to 42
    const std::size_t two = high >= 10;
    w[0] = static_cast<char>('0' + high / 10);
    w[two] = static_cast<char>('0' + high % 10);
    w += 1 + two;
    Store8(w, EightDigits(v - high * 100000000) + kAsciiZeros);
    return w + 8;
  }
  // Leading zeros are dropped, all but the last digit of a 0.
  const std::uint64_t digits = EightDigits(v);
  const int zeros = std::countr_zero(digits | (std::uint64_t{1} << 56)) >> 3;
  Store8(w, (digits + kAsciiZeros) >> (8 * zeros));
  return w + 8 - zeros;
}

// The sign without a branch: in a column of mixed signs it would be
// mispredicted half the time.
inline char* WriteSigned(char* w, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  const std::uint32_t negative = bits >> 31;
  *w = '-';
  return WriteUnsigned(w + negative, negative != 0 ? 0u - bits : bits);
}

// ---- Floats -------------------------------------------------------------

bool SameBits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Whether the loader's conversion turns the text back into `value`.
bool Holds(const char* text, std::size_t length, float value) {
  return SameBits(ParseFloat(std::string_view(text, length)), value);
}

// A decimal as a digit string and a power of ten: the value is
// 0.d1d2d3... x 10^point, with neither leading nor trailing zeros.
struct Decimal {
  char digits[24];
  int count = 0;
  int point = 0;
};

// The digits and exponent of std::to_chars's scientific form
// ("d.ddde-XX") of a positive value.
Decimal DecimalOf(const char* text, const char* end) {
  Decimal decimal;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') decimal.digits[decimal.count++] = *p;
  }
  while (decimal.count > 1 && decimal.digits[decimal.count - 1] == '0') --decimal.count;
  const bool negative = p[1] == '-';
  int exponent = 0;
  for (p += 2; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  decimal.point = (negative ? -exponent : exponent) + 1;
  return decimal;
}

// The shortest digits that tell `value` from every other float when
// converted straight to a float, or with `precision` the nearest digits of
// that many.
template <typename Number>
Decimal DigitsOf(Number value, int precision = 0) {
  char text[kMaxFloatText];
  const Number magnitude = std::fabs(value);
  const auto result = precision == 0 ? std::to_chars(text, text + sizeof text, magnitude,
                                                     std::chars_format::scientific)
                                     : std::to_chars(text, text + sizeof text, magnitude,
                                                     std::chars_format::scientific, precision - 1);
  return DecimalOf(text, result.ptr);
}

// Adds `step` (+1 or -1) in the last digit; false when that changes the
// number of digits (999 + 1, 100 - 1), which are the candidates of another
// length.
bool StepLastDigit(Decimal& decimal, int step) {
  for (int i = decimal.count - 1; i >= 0; --i) {
    char& digit = decimal.digits[i];
    if (step > 0 && digit != '9') {
      ++digit;
      return true;
    }
    if (step < 0 && digit != '0') {
      --digit;
      return decimal.digits[0] != '0';
    }
    digit = step > 0 ? '0' : '9';
  }
  return false;
}

// The decimal as text: plain for values from 0.0001 to below 10^9, as
// people write them in tables; else one digit, the others after a point,
// and an exponent.
std::size_t WriteDecimal(const Decimal& decimal, bool negative, char* out) {
  const char* const digits = decimal.digits;
  const int count = decimal.count;
  const int point = decimal.point;
  char* w = out;
  if (negative) *w++ = '-';
  if (point >= count && point <= 9) {
    w = std::copy(digits, digits + count, w);
    w = std::fill_n(w, point - count, '0');
  } else if (point > 0 && point < count) {
    w = std::copy(digits, digits + point, w);
    *w++ = '.';
    w = std::copy(digits + point, digits + count, w);
  } else if (point <= 0 && point >= -3) {
    *w++ = '0';
    *w++ = '.';
    w = std::fill_n(w, -point, '0');
    w = std::copy(digits, digits + count, w);
  } else {
    *w++ = digits[0];
    if (count > 1) {
      *w++ = '.';
      w = std::copy(digits + 1, digits + count, w);
    }
    *w++ = 'e';
    w = std::to_chars(w, out + kMaxFloatText, point - 1).ptr;
  }
  return static_cast<std::size_t>(w - out);
}

// Powers of ten as doubles, 10^-60 to 10^60: exact to 10^22, within 2^-47
// of the true power beyond, which the test below allows for.
struct PowersOfTen {
  static constexpr int kMax = 60;
  double values[2 * kMax + 1] = {};
  constexpr PowersOfTen() {
    values[kMax] = 1.0;
    for (int k = 1; k <= kMax; ++k) {
      values[kMax + k] = values[kMax + k - 1] * 10.0;
      values[kMax - k] = values[kMax - k + 1] / 10.0;
    }
  }
  double operator()(int k) const { return values[kMax + k]; }
};
constexpr PowersOfTen kPowersOfTen;

// A decimal with fewer digits than `shortest` (the shortest for a straight
// conversion to float) can still load as `value` through the double: when
// it lies just outside the float's rounding interval and its double is the
// midpoint between `value` and a neighbour, which then ties to `value`.
// Such a decimal is the one of that length nearest to the midpoint, within
// half a double's unit of it; that is tested first, in doubles with room
// for their error, and the loader's conversion has the last word. Writes
// the decimal and returns its length, or 0 when there is none.
std::size_t ShorterThroughMidpoint(float value, const Decimal& shortest, char* out) {
  if (shortest.count < 2) return 0;
  const std::uint32_t magnitude = std::bit_cast<std::uint32_t>(value) & ~kSignBit;
  const double x = std::fabs(static_cast<double>(value));
  const double down = std::bit_cast<float>(magnitude - 1);
  const double up = magnitude == 0x7F7FFFFFu ? 2 * x - down : std::bit_cast<float>(magnitude + 1);
  // The grid of decimals one digit shorter is 10^grid apart.
  const int grid = shortest.point - shortest.count + 1;
  const double scale = kPowersOfTen(-grid);
  for (const double midpoint : {(x + down) / 2, (x + up) / 2}) {
    const double r = midpoint * scale;
    const double nearest = std::round(r);
    if (nearest == 0 || std::fabs(r - nearest) > r * 0x1p-44) continue;
    Decimal candidate;
    char* const end = std::to_chars(candidate.digits, candidate.digits + sizeof candidate.digits,
                                    static_cast<std::int64_t>(nearest))
                          .ptr;
    candidate.count = static_cast<int>(end - candidate.digits);
    candidate.point = candidate.count + grid;
    while (candidate.digits[candidate.count - 1] == '0') --candidate.count;
    const std::size_t length = WriteDecimal(candidate, std::signbit(value), out);
    if (Holds(out, length, value)) return length;
  }
  return 0;
}

// When the shortest digits do not survive the loader's two roundings
// (decimal to double, double to float), the nearest decimals of that many
// digits and one more each time, with their neighbours, until one does.
// Nine digits always do; behind them, as a guard, the shortest digits of
// the float's exact value as a double, which the loader reads back exactly.
[[gnu::noinline]] std::size_t FormatFloatLonger(float value, int shortest, char* out) {
  const bool negative = std::signbit(value);
  for (int precision = shortest; precision <= 9; ++precision) {
    const Decimal nearest = DigitsOf(value, precision);
    for (const int step : {0, -1, 1}) {
      Decimal candidate = nearest;
      if (step != 0 && !StepLastDigit(candidate, step)) continue;
      const std::size_t length = WriteDecimal(candidate, negative, out);
      if (Holds(out, length, value)) return length;
    }
  }
  return WriteDecimal(DigitsOf(static_cast<double>(value)), negative, out);
}

// ---- Strings ------------------------------------------------------------

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighs = 0x8080808080808080u;

// What writing a string needs to know: its length up to its NUL, and
// whether it holds a byte that is escaped or warned about.
struct StringShape {
  std::uint32_t length = 0;
  bool special = false;
};

inline bool IsSpecial(unsigned char c) {
  return c == '"' || c == '\\' || c == '\n' || c == '\r' || c == kEndOfFile;
}

// Whether a byte of `word` may end the string or be special: it is below
// 0x20 (the NUL, line feed, carriage return, byte 26 and the other control
// bytes), a double quote or a backslash. No false negatives; control bytes
// that are not special only send the word down the byte-by-byte path.
inline bool MayBeSpecial(std::uint64_t word) {
  const auto below = [](std::uint64_t x, std::uint64_t n) { return (x - kOnes * n) & ~x & kHighs; };
  return (below(word, 0x20) | below(word ^ (kOnes * '"'), 1) | below(word ^ (kOnes * '\\'), 1)) !=
         0;
}

// The shape of the string at `begin`, whose NUL lies before `end`; eight
// bytes at a time while eight are left before `end`, never past it.
StringShape ScanString(const char* const begin, const char* const end) {
  StringShape shape;
  const char* p = begin;
  for (;;) {
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if (!MayBeSpecial(word)) {
        p += 8;
        continue;
      }
    }
    const char* const stop = end - p >= 8 ? p + 8 : end;
    if (p == stop) break;
    for (; p != stop; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == 0) {
        shape.length = static_cast<std::uint32_t>(p - begin);
        return shape;
      }
      shape.special |= IsSpecial(c);
    }
  }
  shape.length = static_cast<std::uint32_t>(p - begin);
  return shape;
}

// The shapes of recently written strings by offset: direct-mapped and of a
// fixed size, so that a table of many distinct strings costs no memory.
class ShapeCache {
 public:
  ShapeCache() : entries_(std::make_unique<Entry[]>(std::size_t{1} << kBits)) {}

  // REQUIRES: offset != 0 (the empty string, which is never looked up).
  StringShape Find(std::uint32_t offset, std::string_view block) {
    Entry& entry = entries_[(offset * 0x9E3779B1u) >> (32 - kBits)];
    if (entry.offset != offset) {
      entry.offset = offset;
      entry.shape = ScanString(block.data() + offset, block.data() + block.size());
    }
    return entry.shape;
  }

 private:
  static constexpr int kBits = 12;
  struct Entry {
    std::uint32_t offset = 0;
    StringShape shape;
  };
  std::unique_ptr<Entry[]> entries_;
};

// The text of recently written floats by their bits, direct-mapped: a
// table repeats its float values (a scale, a rate, 0.5) as much as its
// strings, and a hit saves the conversion and its check.
class FloatCache {
 public:
  FloatCache() : entries_(std::make_unique<Entry[]>(std::size_t{1} << kBits)) {}

  // Writes the text of the float with these bits at `out`, which has room
  // for kMaxFloatText bytes, and returns its length.
  // REQUIRES: the bits are not those of a NaN.
  std::size_t Write(std::uint32_t bits, char* out) {
    Entry& entry = entries_[(bits * 0x9E3779B1u) >> (32 - kBits)];
    if (entry.bits != bits) {
      entry.bits = bits;
      entry.length = static_cast<std::uint8_t>(FormatFloat(std::bit_cast<float>(bits), entry.text));
    }
    // A copy of fixed size compiles to a few moves, with no branch.
    std::memcpy(out, entry.text, kMaxFloatText);
    return entry.length;
  }

 private:
  static constexpr int kBits = 10;
  struct Entry {
    std::uint32_t bits = 0x7FC00000u;  // a NaN: no entry yet
    std::uint8_t length = 0;
    char text[kMaxFloatText] = {};
  };
  std::unique_ptr<Entry[]> entries_;
};

// ---- The text -----------------------------------------------------------

// The buffer the text is built in: a field asks for room for its longest
// text, writes it and advances; full, the buffer goes to the output.
class Staging {
 public:
  explicit Staging(platform::LargeString& out)
      : out_(out),
        buffer_(std::make_unique<char[]>(kStageSize)),
        w_(buffer_.get()),
        end_(w_ + kStageSize) {}

  // Where to write up to `n` bytes, n <= kStageSize.
  char* Room(std::size_t n) {
    if (static_cast<std::size_t>(end_ - w_) < n) Flush();
    return w_;
  }
  void Advance(char* to) { w_ = to; }
  void Put(char c) { *Room(1) = c, ++w_; }
  // The last byte written; it is still staged after any Put or Advance.
  void ReplaceLast(char c) { w_[-1] = c; }
  void Flush() {
    out_.append(buffer_.get(), static_cast<std::size_t>(w_ - buffer_.get()));
    w_ = buffer_.get();
  }
  // Long runs go straight to the output, behind what is staged.
  void AppendDirect(const char* data, std::size_t n) {
    Flush();
    out_.append(data, n);
  }

 private:
  platform::LargeString& out_;
  std::unique_ptr<char[]> buffer_;
  char* w_;
  char* end_;
};

// Where messages go; none while a sample of the records is measured.
struct Reporter {
  const std::string& name;
  MessageSink& sink;
};

struct Column {
  FieldType type;
  std::uint32_t offset;
};

// Writes records, one line each: every field followed by a comma, the last
// comma then turned into the line feed. An empty String field is nothing
// between its commas; at the end of a line that leaves a final comma, which
// the loader takes as that empty field.
class RecordWriter {
 public:
  RecordWriter(const TableImage& table, const std::vector<FieldType>& types,
               platform::LargeString& out, const Reporter* reporter)
      : table_(table), stage_(out), reporter_(reporter) {
    std::uint32_t offset = 0;
    for (const FieldType type : types) {
      columns_.push_back(Column{type, offset});
      offset += static_cast<std::uint32_t>(FieldTypeWidth(type));
    }
  }

  // False after the error for a NaN, with the record incomplete.
  bool Write(std::uint32_t record);
  void Finish() { stage_.Flush(); }

 private:
  void PutInt(std::int32_t value);
  bool PutFloat(std::uint32_t bits, std::uint32_t record, std::uint32_t field);
  void PutString(std::uint32_t offset, std::uint32_t record, std::uint32_t field);
  void PutEscaped(const char* text, std::uint32_t length, std::uint32_t record,
                  std::uint32_t field);

  const TableImage& table_;
  std::vector<Column> columns_;
  Staging stage_;
  ShapeCache shapes_;
  FloatCache floats_;
  const Reporter* reporter_;
};

bool RecordWriter::Write(std::uint32_t record) {
  const char* const bytes = table_.records.data() + std::size_t{record} * table_.recordSize;
  for (std::uint32_t k = 0; k < columns_.size(); ++k) {
    const char* const field = bytes + columns_[k].offset;
    switch (columns_[k].type) {
      case FieldType::Int:
        PutInt(DecodeInt32(field));
        break;
      case FieldType::Byte:
        PutInt(static_cast<unsigned char>(*field));
        break;
      case FieldType::Float:
        if (!PutFloat(DecodeFixed32(field), record, k)) return false;
        break;
      case FieldType::String:
        PutString(DecodeFixed32(field), record, k);
        break;
    }
  }
  if (columns_.empty()) {
    stage_.Put('\n');
  } else {
    stage_.ReplaceLast('\n');
  }
  return true;
}

inline void RecordWriter::PutInt(std::int32_t value) {
  char* w = stage_.Room(kMaxIntText + 1);
  w = WriteSigned(w, value);
  *w++ = ',';
  stage_.Advance(w);
}

inline bool RecordWriter::PutFloat(std::uint32_t bits, std::uint32_t record, std::uint32_t field) {
  if ((bits & ~kSignBit) > kExponentBits) {
    if (reporter_ != nullptr) {
      reporter_->sink.Print(
          "ERROR: '%s': Record '%u', field '%u' holds a NaN float (bits 0x%08X), which a CSV "
          "table cannot carry; give that field the type int with --types.\n",
          reporter_->name.c_str(), record + 1, field + 1, bits);
    }
    return false;
  }
  char* w = stage_.Room(kMaxFloatText + 1);
  w += floats_.Write(bits, w);
  *w++ = ',';
  stage_.Advance(w);
  return true;
}

inline void RecordWriter::PutString(std::uint32_t offset, std::uint32_t record,
                                    std::uint32_t field) {
  if (offset != 0) {
    const StringShape shape = shapes_.Find(offset, table_.stringBlock);
    const char* const text = table_.stringBlock.data() + offset;
    if (shape.special) {
      PutEscaped(text, shape.length, record, field);
    } else if (shape.length <= kLongString) {
      char* w = stage_.Room(shape.length + 3 + kShortString);
      *w++ = '"';
      // Short strings are copied as a fixed 32 bytes, which compiles to two
      // moves, where the block holds that many.
      const auto left =
          static_cast<std::size_t>(table_.stringBlock.data() + table_.stringBlock.size() - text);
      if (shape.length <= kShortString && left >= kShortString) {
        std::memcpy(w, text, kShortString);
      } else {
        std::memcpy(w, text, shape.length);
      }
      w += shape.length;
      *w++ = '"';
      stage_.Advance(w);
    } else if (shape.length != 0) {
      stage_.Put('"');
      stage_.AppendDirect(text, shape.length);
      stage_.Put('"');
    }
  }
  stage_.Put(',');
}

// A string with double quotes, line breaks, backslashes or bytes 26, a
// piece at a time so that any length fits the staging buffer. What the
// loader would read differently is written as it is, with a warning: a
// backslash before n or r, and a byte 26.
[[gnu::noinline]] void RecordWriter::PutEscaped(const char* const text, std::uint32_t length,
                                                std::uint32_t record, std::uint32_t field) {
  char lineBreakLetter = 0;
  bool endOfFile = false;
  stage_.Put('"');
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t piece = std::min<std::uint32_t>(length - done, kLongString);
    char* w = stage_.Room(std::size_t{2} * piece);
    for (std::uint32_t i = done; i < done + piece; ++i) {
      const char c = text[i];
      if (c == '"') {
        *w++ = '"';
      } else if (c == '\n' || c == '\r') {
        *w++ = '\\';
        *w++ = c == '\n' ? 'n' : 'r';
        continue;
      } else if (c == '\\' && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
        if (lineBreakLetter == 0) lineBreakLetter = text[i + 1];
      } else if (c == kEndOfFile) {
        endOfFile = true;
      }
      *w++ = c;
    }
    stage_.Advance(w);
    done += piece;
  }
  stage_.Put('"');
  if (reporter_ == nullptr) return;
  if (lineBreakLetter != 0) {
    reporter_->sink.Print(
        "WARNING: '%s': Record '%u', field '%u': the string holds a backslash before '%c', which "
        "dbcpack reads as a line break.\n",
        reporter_->name.c_str(), record + 1, field + 1, lineBreakLetter);
  }
  if (endOfFile) {
    reporter_->sink.Print(
        "WARNING: '%s': Record '%u', field '%u': the string holds a byte 26, which ends a text "
        "file.\n",
        reporter_->name.c_str(), record + 1, field + 1);
  }
}

void WriteHeader(const std::vector<FieldType>& types, platform::LargeString& out) {
  for (std::size_t k = 0; k < types.size(); ++k) {
    if (k != 0) out.push_back(',');
    out.append(FieldTypeKeyword(types[k]));
  }
  out.push_back('\n');
}

// The text of all records, from that of up to kSamples records spread over
// the table, with a margin: enough, nearly always, for the output to be
// reserved once.
std::size_t EstimateText(const TableImage& table, const std::vector<FieldType>& types) {
  constexpr std::uint32_t kSamples = 1024;
  constexpr std::size_t kEnoughSample = std::size_t{16} << 20;
  const std::uint32_t count = std::min(table.recordCount, kSamples);
  platform::LargeString sample;
  RecordWriter writer(table, types, sample, nullptr);
  std::uint32_t written = 0;
  while (written < count && sample.size() < kEnoughSample) {
    (void)writer.Write(
        static_cast<std::uint32_t>(std::uint64_t{written} * table.recordCount / count));
    ++written;
    if (written % 64 == 0) writer.Finish();
  }
  writer.Finish();
  if (written == 0) return 0;
  const double perRecord = static_cast<double>(sample.size()) / written;
  return static_cast<std::size_t>(perRecord * table.recordCount * 1.0625) + 4096;
}

}  // namespace

std::size_t FormatFloat(float value, char* out) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  if ((bits & ~kSignBit) == kExponentBits) {
    const std::string_view text = (bits & kSignBit) != 0 ? "-1e39" : "1e39";
    std::copy(text.begin(), text.end(), out);
    return text.size();
  }
  // Small whole numbers, common in tables, are their own shortest decimal
  // and exact in a double and a float alike.
  if (value > -100000.0f && value < 100000.0f && bits != kSignBit) {
    const auto whole = static_cast<std::int32_t>(value);
    if (static_cast<float>(whole) == value) {
      return static_cast<std::size_t>(WriteSigned(out, whole) - out);
    }
  }
  const Decimal shortest = DigitsOf(value);
  if (const std::size_t shorter = ShorterThroughMidpoint(value, shortest, out)) return shorter;
  const std::size_t length = WriteDecimal(shortest, (bits & kSignBit) != 0, out);
  if (Holds(out, length, value)) return length;
  return FormatFloatLonger(value, shortest.count, out);
}

std::string QuotedCsvString(std::string_view value) {
  std::string text = "\"";
  for (const char c : value) {
    if (c == '\n' || c == '\r') {
      text += c == '\n' ? "\\n" : "\\r";
    } else {
      if (c == '"') text += '"';
      text += c;
    }
  }
  text += '"';
  return text;
}

bool WriteCsv(const TableImage& table, const std::vector<FieldType>& types, const std::string& name,
              platform::LargeString& out, MessageSink& sink) {
  WriteHeader(types, out);
  out.reserve(out.size() + EstimateText(table, types));
  const Reporter reporter{name, sink};
  RecordWriter writer(table, types, out, &reporter);
  for (std::uint32_t r = 0; r < table.recordCount; ++r) {
    if (!writer.Write(r)) {
      writer.Finish();
      return false;
    }
  }
  writer.Finish();
  return true;
}

}  // namespace dbcpack
