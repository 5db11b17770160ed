// Writing a table as CSV text, fast enough to be no more than a small part of
// an unpack. The text is built in a staging buffer that stays in the cache
// and goes to the output in large appends; the output is reserved once, from
// the text of the first records, so that it seldom grows and is never
// zero-filled ahead of the writing. Numbers are formatted (number_format)
// straight into that buffer, and what a string needs (its length, whether
// it must be escaped) is remembered per offset, since real tables repeat
// their strings.
#include "table/csv_writer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/two_threads.h"
#include "table/encoding.h"
#include "table/number_format.h"

namespace dbcpack {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z: ends a text file
constexpr std::size_t kStageSize = std::size_t{64} << 10;
// Strings longer than this bypass the staging buffer.
constexpr std::size_t kLongString = kStageSize / 4;
constexpr std::size_t kShortString = 32;
// Records of at least this many bytes are written by two threads.
constexpr std::size_t kTwoThreadBytes = std::size_t{4} << 20;

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
      if (!MayBeSpecial(Load8(p))) {
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

// What a string holds that the CSV text cannot carry.
struct Unwritable {
  bool backslashBeforeBreak = false;
  bool endOfFile = false;
};

// Writes bytes [from, to) of `text`, a string of `length` bytes, at `w` as
// the loader reads them back, and returns the end: a double quote doubled,
// a line feed and a carriage return as \n and \r, a backslash before the
// letter n or r as \\, so that it does not read as a line break. At most
// two bytes for each. Nothing in the dialect gives a backslash right before
// a line break, nor a byte 26 (which ends a text file): those are written as
// they are and noted in `found`.
char* EscapeString(const char* text, std::size_t length, std::size_t from, std::size_t to, char* w,
                   Unwritable& found) {
  std::size_t i = from;
  while (i < to) {
    // The run up to the next byte that needs a look, copied in one go.
    std::size_t run = i;
    while (to - run >= 8 && !MayBeSpecial(Load8(text + run))) run += 8;
    while (run < to && !IsSpecial(static_cast<unsigned char>(text[run]))) ++run;
    std::memcpy(w, text + i, run - i);
    w += run - i;
    if (run == to) break;
    const char c = text[run];
    i = run + 1;
    if (c == '\n' || c == '\r') {
      *w++ = '\\';
      *w++ = c == '\n' ? 'n' : 'r';
      continue;
    }
    if (c == '"') {
      *w++ = '"';
    } else if (c == '\\') {
      const char next = i < length ? text[i] : '\0';
      if (next == 'n' || next == 'r') *w++ = '\\';
      if (next == '\n' || next == '\r') found.backslashBeforeBreak = true;
    } else {
      found.endOfFile = true;
    }
    *w++ = c;
  }
  return w;
}

// The records of one column whose strings the text cannot carry: how many,
// and the first.
struct Tally {
  std::uint32_t count = 0;
  std::uint32_t first = 0;

  void Add(std::uint32_t record) {
    if (count++ == 0) first = record;
  }
  // The tally of records that follow these.
  void Merge(const Tally& later) {
    if (count == 0) first = later.first;
    count += later.count;
  }
};

struct ColumnTallies {
  Tally backslashBeforeBreak;
  Tally endOfFile;
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

// A NaN float, which no CSV text can carry: the first one met.
struct NanFloat {
  bool found = false;
  std::uint32_t record = 0;
  std::uint32_t field = 0;
  std::uint32_t bits = 0;
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
               platform::LargeString& out)
      : table_(table), stage_(out) {
    std::uint32_t offset = 0;
    for (const FieldType type : types) {
      columns_.push_back(Column{type, offset});
      offset += static_cast<std::uint32_t>(FieldTypeWidth(type));
    }
    tallies_.resize(columns_.size());
  }

  // False at a NaN, which Nan() then tells, with the record incomplete.
  bool Write(std::uint32_t record);
  void Finish() { stage_.Flush(); }
  const NanFloat& Nan() const { return nan_; }
  // The strings of each column that the text cannot carry.
  const std::vector<ColumnTallies>& Tallies() const { return tallies_; }

 private:
  void PutInt(std::int32_t value);
  bool PutFloat(std::uint32_t bits, std::uint32_t record, std::uint32_t field);
  void PutString(std::uint32_t offset, std::uint32_t record, std::uint32_t field);
  void PutEscaped(const char* text, std::uint32_t length, std::uint32_t record,
                  std::uint32_t field);

  const TableImage& table_;
  std::vector<Column> columns_;
  std::vector<ColumnTallies> tallies_;
  Staging stage_;
  ShapeCache shapes_;
  FloatCache floats_;
  NanFloat nan_;
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
  w = FormatInt(value, w);
  *w++ = ',';
  stage_.Advance(w);
}

inline bool RecordWriter::PutFloat(std::uint32_t bits, std::uint32_t record, std::uint32_t field) {
  if (IsNanBits(bits)) {
    nan_ = NanFloat{true, record, field, bits};
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
// piece at a time so that any length fits the staging buffer.
[[gnu::noinline]] void RecordWriter::PutEscaped(const char* const text, std::uint32_t length,
                                                std::uint32_t record, std::uint32_t field) {
  Unwritable found;
  stage_.Put('"');
  for (std::uint32_t done = 0; done < length;) {
    const std::uint32_t piece = std::min<std::uint32_t>(length - done, kLongString);
    char* const w = stage_.Room(std::size_t{2} * piece);
    stage_.Advance(EscapeString(text, length, done, done + piece, w, found));
    done += piece;
  }
  stage_.Put('"');
  if (found.backslashBeforeBreak) tallies_[field].backslashBeforeBreak.Add(record);
  if (found.endOfFile) tallies_[field].endOfFile.Add(record);
}

// One warning per column and kind of string the text cannot carry.
void ReportUnwritable(const std::vector<ColumnTallies>& tallies, const std::string& name,
                      MessageSink& sink) {
  const auto report = [&](const Tally& tally, std::uint32_t field, const char* what) {
    if (tally.count == 0) return;
    sink.Print("WARNING: '%s': Field '%u': '%u' %s %s (the first is record '%u').\n", name.c_str(),
               field + 1, tally.count, tally.count == 1 ? "record holds" : "records hold", what,
               tally.first + 1);
  };
  for (std::uint32_t k = 0; k < tallies.size(); ++k) {
    report(tallies[k].backslashBeforeBreak, k,
           "a backslash right before a line break, which the CSV text cannot carry");
    report(tallies[k].endOfFile, k, "a byte 26, which ends a CSV text file");
  }
}

void WriteHeader(const std::vector<FieldType>& types, platform::LargeString& out) {
  out.append(TypeListText(types));
  out.push_back('\n');
}

// A run of records for one thread to write, and what it found there.
struct Part {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  NanFloat nan;
  std::vector<ColumnTallies> tallies;
};

// Records of a part written before its output is reserved.
constexpr std::uint32_t kFirstRecords = 256;

// Writes the part's records. The output is reserved once, after its first
// records, for the rest from their text with a margin: enough, nearly
// always, for it never to grow again, and no pass over the records only
// to measure them.
void WritePart(const TableImage& table, const std::vector<FieldType>& types, Part& part,
               platform::LargeString& out) {
  RecordWriter writer(table, types, out);
  const std::size_t start = out.size();
  const std::uint32_t first = std::min(part.end, part.first + kFirstRecords);
  std::uint32_t r = part.first;
  bool written = true;
  for (; written && r < first; ++r) written = writer.Write(r);
  writer.Finish();
  if (written && r < part.end) {
    const double perRecord = static_cast<double>(out.size() - start) / (r - part.first);
    out.reserve(out.size() + static_cast<std::size_t>(perRecord * (part.end - r) * 1.0625) + 4096);
    for (; r < part.end; ++r) {
      if (!writer.Write(r)) break;
    }
    writer.Finish();
  }
  part.nan = writer.Nan();
  part.tallies = writer.Tallies();
}

// The messages of the parts, in record order: the first NaN is an error
// that ends the text; else the strings the text cannot carry, per column
// over all parts.
bool Report(const std::vector<Part>& parts, std::size_t columns, const std::string& name,
            MessageSink& sink) {
  std::vector<ColumnTallies> tallies(columns);
  for (const Part& part : parts) {
    if (part.nan.found) {
      sink.Print(
          "ERROR: '%s': Record '%u', field '%u' holds a NaN float (bits 0x%08X), which a CSV "
          "table cannot carry; give that field the type int with --types.\n",
          name.c_str(), part.nan.record + 1, part.nan.field + 1, part.nan.bits);
      return false;
    }
    for (std::size_t k = 0; k < columns; ++k) {
      tallies[k].backslashBeforeBreak.Merge(part.tallies[k].backslashBeforeBreak);
      tallies[k].endOfFile.Merge(part.tallies[k].endOfFile);
    }
  }
  ReportUnwritable(tallies, name, sink);
  return true;
}

}  // namespace

std::string QuotedCsvString(std::string_view value) {
  std::string text(2 * value.size() + 2, '\0');
  char* w = text.data();
  *w++ = '"';
  Unwritable ignored;
  w = EscapeString(value.data(), value.size(), 0, value.size(), w, ignored);
  *w++ = '"';
  text.resize(static_cast<std::size_t>(w - text.data()));
  return text;
}

bool WriteCsv(const TableImage& table, const std::vector<FieldType>& types, const std::string& name,
              std::vector<platform::LargeString>& pieces, MessageSink& sink) {
  const std::uint32_t count = table.recordCount;
  // Two threads where there is enough to share: each writes half of the
  // records into a piece of its own, so that nothing is copied to join them.
  const std::size_t recordSize = std::max<std::size_t>(table.recordSize, 1);
  const std::size_t enough = (kTwoThreadBytes + recordSize - 1) / recordSize;
  pieces.assign(count >= enough && count >= 2 ? 2 : 1, platform::LargeString());
  WriteHeader(types, pieces[0]);
  std::vector<Part> parts(pieces.size());
  platform::InTwoHalves(count, enough, [&](std::size_t first, std::size_t end) {
    const std::size_t at = first == 0 ? 0 : 1;
    parts[at].first = static_cast<std::uint32_t>(first);
    parts[at].end = static_cast<std::uint32_t>(end);
    WritePart(table, types, parts[at], pieces[at]);
  });
  return Report(parts, types.size(), name, sink);
}

bool WriteCsv(const TableImage& table, const std::vector<FieldType>& types, const std::string& name,
              platform::LargeString& out, MessageSink& sink) {
  std::vector<platform::LargeString> pieces;
  const bool written = WriteCsv(table, types, name, pieces, sink);
  for (const platform::LargeString& piece : pieces) out.append(piece);
  return written;
}

}  // namespace dbcpack
