// Loading one CSV table: the header of column types, then one record per
// line. The file is read whole into one buffer; lines and fields are views
// into it, and every value is encoded straight into its place in the
// table's records, as the DBC file will hold it.
#include <algorithm>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "platform/platform.h"
#include "table/dbc_table.h"
#include "table/encoding.h"
#include "table/field_reader.h"
#include "table/field_type.h"
#include "table/number_parse.h"
#include "table/number_scan.h"
#include "table/string_pool.h"

namespace dbcpack {
namespace {

constexpr std::int64_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();
constexpr char kEndOfFile = 26;  // Ctrl-Z: ends a text file
// Bytes the fast path may read past the end of a line.
constexpr std::size_t kLineSlack = 8;

// One column of the records: its type and the byte offset of its value in
// a record.
struct Column {
  FieldType type;
  std::size_t offset;
};

// A string value the fast path has read and interns once its whole line
// has been read: either a view into the line or, unescaped, a piece of the
// line's scratch buffer.
struct PendingString {
  const char* data;  // null: at `scratchOffset` in lineScratch
  std::size_t scratchOffset;
  std::size_t size;
  std::uint32_t hash;
  char* into;
};

// What the record loop works with: the columns, the string deduplication,
// and scratch buffers for string values that need unescaping.
struct RecordParser {
  DbcTable& table;
  MessageSink& sink;
  std::vector<Column> columns;
  StringPool pool;
  std::string scratch = {};
  std::vector<PendingString> pending = {};
  std::string lineScratch = {};
  std::string paddedLine = {};  // a line copied to be read past its end
};

// Cuts the next line off `text`. A carriage return right before the line
// feed is not part of the line; any other carriage return is.
inline std::string_view NextLine(std::string_view& text) {
  const char* const begin = text.data();
  const void* lf = std::memchr(begin, '\n', text.size());
  if (lf == nullptr) {
    const std::string_view line = text;
    text = std::string_view();
    return line;
  }
  std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
  text.remove_prefix(length + 1);
  if (length > 0 && begin[length - 1] == '\r') --length;
  return std::string_view(begin, length);
}

// The data after the header: pieces of text, each but the last ending in a
// line feed, so that no line crosses from one to the next.
class DataText {
 public:
  DataText() = default;
  explicit DataText(std::vector<std::string_view> pieces) : pieces_(std::move(pieces)) {
    if (!pieces_.empty()) Enter(pieces_.front());
  }

  std::size_t Size() const {
    std::size_t size = 0;
    for (const std::string_view piece : pieces_) size += piece.size();
    return size;
  }
  const std::vector<std::string_view>& Pieces() const { return pieces_; }

  // Whether every line has been read.
  bool AtEnd() {
    while (rest_.empty() && next_ < pieces_.size()) Enter(pieces_[next_++]);
    return rest_.empty();
  }
  // The next line, from the piece that holds it.
  std::string_view NextLine() {
    while (rest_.empty() && next_ < pieces_.size()) Enter(pieces_[next_++]);
    return dbcpack::NextLine(rest_);
  }
  // The end of the piece of the last line: the bytes up to it may be read.
  const char* ReadableEnd() const { return pieceEnd_; }

 private:
  void Enter(std::string_view piece) {
    rest_ = piece;
    pieceEnd_ = piece.data() + piece.size();
  }

  std::vector<std::string_view> pieces_;
  std::string_view rest_;
  const char* pieceEnd_ = nullptr;
  std::size_t next_ = 1;
};

// The text before the first byte 26, which ends a text file.
std::vector<std::string_view> CutAtEndOfFile(std::span<const std::string_view> pieces) {
  std::vector<std::string_view> kept;
  for (const std::string_view piece : pieces) {
    const void* eof = std::memchr(piece.data(), kEndOfFile, piece.size());
    if (eof == nullptr) {
      kept.push_back(piece);
      continue;
    }
    kept.push_back(
        piece.substr(0, static_cast<std::size_t>(static_cast<const char*>(eof) - piece.data())));
    break;
  }
  return kept;
}

// Drops the rest of a numeric field from `line`, from `stop` (inside the
// field) through its comma, as NextToken would: a comma that is the last
// byte of the line stays, as one more, empty, field.
inline void SkipPastComma(std::string_view& line, const char* stop) {
  const char* const end = line.data() + line.size();
  const char* comma = stop;
  if (comma == end || *comma != ',') {
    comma = static_cast<const char*>(std::memchr(stop, ',', static_cast<std::size_t>(end - stop)));
    if (comma == nullptr) {
      line = std::string_view();
      return;
    }
  }
  const std::size_t p = static_cast<std::size_t>(comma - line.data());
  line.remove_prefix(p + 1 < line.size() ? p + 1 : p);
}

// Number of lines in the data after the header: every line feed ends one,
// and text after the last line feed is one more.
std::size_t CountLines(const DataText& data) {
  std::size_t lines = 0;
  bool open = false;  // text after the last line feed
  for (const std::string_view piece : data.Pieces()) {
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while (p != end) {
      const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      if (lf == nullptr) {
        open = true;
        break;
      }
      ++lines;
      p = static_cast<const char*>(lf) + 1;
    }
  }
  return open ? lines + 1 : lines;
}

// Reads the header line into the column types, with the header's messages.
bool ParseHeader(DbcTable& table, std::string_view header, std::vector<FieldType>& types,
                 MessageSink& sink) {
  const char* const name = table.fileName.c_str();
  if (header.size() < 3) {
    sink.Print("ERROR: '%s': First line must contain field types (int,float,byte,string).\n", name);
    return false;
  }
  TypeListError error;
  if (!ParseTypeList(header, types, error)) {
    if (error.kind == TypeListError::Kind::EmptyName) {
      sink.Print("ERROR: '%s': Name of field '%i' is empty.\n", name, error.position);
    } else if (error.kind == TypeListError::Kind::UnknownType) {
      const std::string entry(error.entry);
      sink.Print("ERROR: '%s': Unknown field type '%s'.\n", name, entry.c_str());
    } else {
      sink.Print("ERROR: '%s': Table too large for a DBC file.\n", name);
    }
    return false;
  }
  table.fieldCount = static_cast<std::int32_t>(types.size());
  table.recordSize = static_cast<std::int32_t>(RecordSizeOf(types));
  if (static_cast<std::size_t>(table.fieldCount) != types.size()) {
    sink.Print("ERROR: '%s': WTF This should never happen.\n", name);
    return false;
  }
  return true;
}

// Lines at the start of the data whose length tells how many records the
// rest holds.
constexpr std::size_t kSampleLines = 64;

// How many records to make room for at first, without reading the whole
// data: every line when there are few, else the data's size over the mean
// length of its first lines, with a margin (the room grows when that
// falls short). Never more than the data can hold before the load fails:
// every line but the last that loads takes at least fieldCount bytes (a
// comma per field but the last, and its line feed), and the first line
// that fails needs room too. Room for every line would let a small
// malformed file (many columns, many empty lines) ask for more memory than
// there is.
std::size_t RecordsToAllocate(DataText data, std::size_t fields) {
  const std::size_t size = data.Size();
  std::size_t lines = 0;
  std::size_t sampled = 0;
  while (lines < kSampleLines && !data.AtEnd()) {
    sampled += data.NextLine().size() + 1;
    ++lines;
  }
  const std::size_t most = size / fields + 2;
  if (data.AtEnd()) return std::min(lines, most);
  const std::size_t guess = size / sampled * lines + size % sampled * lines / sampled;
  return std::min(guess + guess / 8 + 16, most);
}

// Checks that the data holds records and not too many, and allocates the
// table's storage for them.
bool PlanRecords(DbcTable& table, const DataText& data, const std::vector<FieldType>& types,
                 std::vector<Column>& columns, MessageSink& sink) {
  const char* const name = table.fileName.c_str();
  // Every line takes a byte at least, so only data past INT32_MAX - 1 bytes
  // can hold more lines than a table may have (the last record is reported
  // as line count + 1, which must fit too): only such data is counted
  // first, so that this error comes before any other.
  const std::size_t limit = static_cast<std::size_t>(kMaxInt32 - 1);
  if (data.Size() > limit && CountLines(data) > limit) {
    sink.Print("ERROR: '%s': Table too large for a DBC file.\n", name);
    return false;
  }
  if (data.Size() == 0) {
    sink.Print("ERROR: '%s': No records found.\n", name);
    return false;
  }
  const std::vector<std::size_t> offsets =
      table.AllocateRecords(types, RecordsToAllocate(data, types.size()));
  columns.clear();
  for (std::size_t k = 0; k < types.size(); ++k) columns.push_back(Column{types[k], offsets[k]});
  return true;
}

// One String field, its offset stored at `into`.
bool ParseStringField(RecordParser& parser, std::string_view& line, bool last, char* into) {
  DbcTable& table = parser.table;
  if (line.empty() && !last) {
    parser.sink.Print("ERROR: '%s': Expected '%i' fields not '%i' at line '%i'.\n",
                      table.fileName.c_str(), table.fieldCount, table.fieldIndex + 1,
                      table.lineNumber);
    return false;
  }
  std::string_view text;
  if (!ReadQuotedField(table, line, parser.scratch, text, parser.sink)) return false;
  std::int64_t offset = 0;
  if (!text.empty()) {
    offset = parser.pool.Intern(text);
    if (offset < 0) {
      parser.sink.Print("ERROR: '%s': Table too large for a DBC file.\n", table.fileName.c_str());
      return false;
    }
  }
  PutFixed32(into, static_cast<std::uint32_t>(offset));
  return true;
}

// One Int, Float or Byte field, encoded at `into`. The number is converted
// straight from the line: the conversion stops before the comma that ends
// the field, and the rest of the field up to that comma is ignored, as it
// would be in the token.
bool ParseNumberField(RecordParser& parser, std::string_view& line, FieldType type, char* into) {
  DbcTable& table = parser.table;
  if (line.empty()) {
    parser.sink.Print("ERROR: '%s': Expected '%i' fields not '%i' at line '%i'.\n",
                      table.fileName.c_str(), table.fieldCount, table.fieldIndex, table.lineNumber);
    return false;
  }
  const char* const first = line.data();
  const char* const last = first + line.size();
  if (*first == ',') {
    parser.sink.Print("ERROR: '%s': Empty int/float/byte field '%i' at line '%i'.\n",
                      table.fileName.c_str(), table.fieldIndex + 1, table.lineNumber);
    return false;
  }
  const char* stop;
  if (type == FieldType::Float) {
    float value;
    stop = ParseFloatPrefix(first, last, value);
    PutFloat(into, value);
  } else {
    std::int32_t value;
    stop = ParseIntPrefix(first, last, value);
    if (type == FieldType::Byte) {
      *into = static_cast<char>(static_cast<std::uint32_t>(value) & 0xFF);
    } else {
      PutInt32(into, value);
    }
  }
  SkipPastComma(line, stop);
  return true;
}

// One record, from its line into `record`, with every message of a line:
// the general path, exact for every quirk of the dialect.
bool ParseRecord(RecordParser& parser, std::string_view line, char* record) {
  DbcTable& table = parser.table;
  table.fieldIndex = 0;
  const std::size_t count = parser.columns.size();
  for (std::size_t k = 0;; ++k) {
    const Column& column = parser.columns[k];
    const bool last = k + 1 == count;
    const bool ok = column.type == FieldType::String
                        ? ParseStringField(parser, line, last, record + column.offset)
                        : ParseNumberField(parser, line, column.type, record + column.offset);
    if (!ok) return false;
    if (last) break;
    ++table.fieldIndex;
  }
  if (!line.empty()) {
    parser.sink.Print(
        "WARNING: '%s': Contains more fields than expected at line '%i'. (ignoring).\n",
        table.fileName.c_str(), table.lineNumber);
  }
  return true;
}

// Whether the backslash at `p` starts an escape that changes the value:
// \n, \r, or \\n, \\r (a backslash before the letter). Any other backslash
// is itself. Reads two bytes past `p`, which the fast path's slack covers.
inline bool EscapeChanges(const char* p) {
  const char next = p[1];
  return next == 'n' || next == 'r' || (next == '\\' && (p[2] == 'n' || p[2] == 'r'));
}

// The fast path's string field at `p`: empty (nothing before the comma or
// the end of the line) or quoted, its closing quote right before the comma
// or the end. Leaves `p` just past the value and its offset pending;
// false for anything that is an error. A value is copied only when it
// changes (a doubled quote or an escape), from its first such byte on;
// else it stays a view into the line.
inline bool TakeString(RecordParser& parser, const char*& p, const char* const end, char* into) {
  PutFixed32(into, 0);
  if (*p != '"') return p == end || *p == ',';
  const char* const body = p + 1;
  const char* quote = FindQuoteOrBackslash(body, end);
  while (quote != end && *quote == '\\' && !EscapeChanges(quote)) {
    quote = FindQuoteOrBackslash(quote + 1, end);
  }
  if (quote == end) return false;
  PendingString string{body, 0, static_cast<std::size_t>(quote - body), 0, into};
  if (*quote != '"' || (quote + 1 != end && quote[1] != ',')) {
    std::string& scratch = parser.lineScratch;
    string.data = nullptr;
    string.scratchOffset = scratch.size();
    scratch.append(body, string.size);
    if (ScanQuotedBody(quote, end, scratch, quote) != QuotedEnd::Closed) return false;
    string.size = scratch.size() - string.scratchOffset;
  }
  if (string.size != 0) parser.pending.push_back(string);
  p = quote + 1;
  return true;
}

// Interns the strings of a line read by the fast path, in field order. The
// hashes come first and then hints for the memory each string's look-up
// reads, so that the cache misses of all the line's strings overlap
// instead of following one another.
bool InternPending(RecordParser& parser) {
  for (PendingString& string : parser.pending) {
    if (string.data == nullptr) string.data = parser.lineScratch.data() + string.scratchOffset;
    string.hash = StringPool::HashOf(std::string_view(string.data, string.size));
    parser.pool.PrefetchSlot(string.hash);
  }
  for (const PendingString& string : parser.pending) parser.pool.PrefetchString(string.hash);
  for (const PendingString& string : parser.pending) {
    const std::int64_t offset =
        parser.pool.Intern(std::string_view(string.data, string.size), string.hash);
    if (offset < 0) return false;  // too large: the general path says so
    PutFixed32(string.into, static_cast<std::uint32_t>(offset));
  }
  return true;
}

// The fast path's number of another shape than the short ones, by the
// general conversion; null for an empty or missing field, which the
// general path reports.
[[gnu::noinline]] const char* TakeOtherNumber(FieldType type, const char* p, const char* const end,
                                              char* into) {
  if (p == end || *p == ',') return nullptr;
  if (type == FieldType::Float) {
    float value;
    p = ParseFloatPrefix(p, end, value);
    PutFloat(into, value);
    return p;
  }
  std::int32_t value;
  p = ParseIntPrefix(p, end, value);
  if (type == FieldType::Byte) {
    *into = static_cast<char>(static_cast<std::uint32_t>(value) & 0xFF);
  } else {
    PutInt32(into, value);
  }
  return p;
}

// The fast path's field at `p` of a column of `type`, encoded at `into`;
// returns where the field's value stopped, or null when the line is not
// plain.
[[gnu::always_inline]] inline const char* TakeField(RecordParser& parser, FieldType type,
                                                    const char* p, const char* const end,
                                                    char* into) {
  switch (type) {
    case FieldType::Int: {
      std::int32_t value;
      if (const char* stop = ReadShortInt(p, value)) {
        PutInt32(into, value);
        return stop;
      }
      break;
    }
    case FieldType::Float: {
      float value;
      if (const char* stop = ReadShortFloat(p, value)) {
        PutFloat(into, value);
        return stop;
      }
      break;
    }
    case FieldType::Byte: {
      std::int32_t value;
      if (const char* stop = ReadShortInt(p, value)) {
        *into = static_cast<char>(static_cast<std::uint32_t>(value) & 0xFF);
        return stop;
      }
      break;
    }
    case FieldType::String:
      return TakeString(parser, p, end, into) ? p : nullptr;
  }
  return TakeOtherNumber(type, p, end, into);
}

// The fast path, for a plain line: every number followed at once by its
// comma, every string as TakeString takes it, one value per column and
// nothing after the last. On anything else it returns false before a
// message could be due, and the general path parses the line again; for
// what it takes, it gives what the general path gives. REQUIRES: eight
// bytes can be read from `end`, and the byte there is a line break (or
// padding that reads as one): never a digit, a comma or a quote, so that
// it ends a number, a field and the line without a test of its own.
bool ReadPlainRecord(RecordParser& parser, const char* p, const char* const end, char* record) {
  const Column* column = parser.columns.data();
  const Column* const last = column + parser.columns.size() - 1;
  for (;; ++column) {
    p = TakeField(parser, column->type, p, end, record + column->offset);
    if (p == nullptr) return false;
    if (column == last) return p == end;
    // A comma that ends the line opens one more, empty, field, which
    // only a last column of strings takes.
    if (*p != ',') return false;
    ++p;
  }
}

// The line at `line`, with `readable` the end of the bytes that may be
// read after it, by the fast path: a line too near that end to be read
// past it is copied, padded, first.
bool ParsePlainRecord(RecordParser& parser, std::string_view line, const char* readable,
                      char* record) {
  parser.pending.clear();
  parser.lineScratch.clear();
  const char* p = line.data();
  if (p == nullptr || readable - (p + line.size()) < static_cast<std::ptrdiff_t>(kLineSlack)) {
    std::string& copy = parser.paddedLine;
    copy.assign(line);
    copy.append(kLineSlack, '\n');
    p = copy.data();
  }
  return ReadPlainRecord(parser, p, p + line.size(), record) && InternPending(parser);
}

// Every line of the data as a record, the room for them grown when the
// first guess falls short.
bool ParseRecords(RecordParser& parser, DataText& data) {
  DbcTable& table = parser.table;
  const auto size = static_cast<std::size_t>(table.recordSize);
  std::size_t room = (table.records.Size() - DbcTable::kRecordPadding) / size;
  std::size_t r = 0;
  for (; !data.AtEnd(); ++r) {
    if (r == room) {
      room += room / 2 + 16;
      table.GrowRecords(room);
    }
    char* const record = table.records.Data() + r * size;
    const std::string_view line = data.NextLine();
    ++table.lineNumber;
    if (!ParsePlainRecord(parser, line, data.ReadableEnd(), record) &&
        !ParseRecord(parser, line, record)) {
      table.recordCount = static_cast<std::int32_t>(r + 1);
      return false;
    }
  }
  table.recordCount = static_cast<std::int32_t>(r);
  table.AttachValues(r);
  return true;
}

}  // namespace

bool DbcTable::LoadCsv(const std::string& path, MessageSink& sink) {
  fileName = path;
  platform::FileContents content;
  // One message for a table that cannot be opened or read, as for one cut
  // short below.
  if (platform::ReadWholeFile(path, content) != platform::ReadResult::Read) {
    sink.Print("ERROR: Can't open file '%s'.\n", fileName.c_str());
    return false;
  }
  sink.Print("Loading file '%s'.\n", fileName.c_str());
  IntactOnlySink parseSink(content, sink);
  const std::string_view view = content.View();
  const bool parsed = ParseCsv(std::span<const std::string_view>(&view, 1), parseSink);
  // A file cut short by another program while it was read is a failed
  // read, not a table.
  if (!content.Intact()) {
    sink.Print("ERROR: Can't open file '%s'.\n", fileName.c_str());
    return false;
  }
  if (!parsed) return false;
  sink.Print("CSV file loaded '%s'.\n", fileName.c_str());
  return true;
}

bool DbcTable::LoadCsvContent(std::string_view content, MessageSink& sink) {
  return LoadCsvContent(std::span<const std::string_view>(&content, 1), sink);
}

bool DbcTable::LoadCsvContent(std::span<const std::string_view> pieces, MessageSink& sink) {
  if (!ParseCsv(pieces, sink)) return false;
  sink.Print("CSV file loaded '%s'.\n", fileName.c_str());
  return true;
}

bool DbcTable::ParseCsv(std::span<const std::string_view> pieces, MessageSink& sink) {
  std::vector<std::string_view> kept = CutAtEndOfFile(pieces);
  if (kept.empty()) kept.emplace_back();
  std::vector<FieldType> types;
  if (!ParseHeader(*this, NextLine(kept.front()), types, sink)) return false;
  DataText data(std::move(kept));
  std::vector<Column> columns;
  if (!PlanRecords(*this, data, types, columns, sink)) return false;

  // The block can never outgrow the text it comes from; reserving that much
  // address space up front avoids copying the block as it grows, and pages
  // never written are never touched. The deduplication is sized from the
  // text too.
  const bool strings = std::any_of(columns.begin(), columns.end(), [](const Column& column) {
    return column.type == FieldType::String;
  });
  const std::size_t text = strings ? data.Size() : 0;
  if (strings) stringBlock.reserve(text + 1);
  RecordParser parser{*this, sink, std::move(columns), StringPool(stringBlock, text)};
  if (!ParseRecords(parser, data)) return false;
  stringBlockSize = static_cast<std::int32_t>(stringBlock.size());
  return true;
}

}  // namespace dbcpack
