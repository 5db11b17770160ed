// The DBC writer. Records are encoded straight into one large buffer that
// goes to the file in big writes; the file is created beside the output and
// moved over it only once complete, so no failure can leave a truncated or
// half-written table behind.
#include "dbc/dbc_writer.h"

#include <cstring>
#include <memory>
#include <vector>

#include "dbc/encoding.h"
#include "platform/platform.h"

namespace dbcpack {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
constexpr std::uint32_t kMagic = 0x43424457;  // "WDBC" read as little-endian

// Where a field's value sits: in which of a record's three value rows
// (ints, floats, bytes), at which byte offset, and how wide it is.
struct Field {
  int row;
  std::size_t offset;
  std::size_t width;
};

// Collects encoded bytes and hands them to the file a buffer at a time,
// remembering the first failure.
class BufferedOutput {
 public:
  explicit BufferedOutput(platform::ReplacementFile& file)
      : file_(file), buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

  // Room for at least `size` more bytes (size <= kBufferSize).
  char* Reserve(char* cursor, std::size_t size) {
    if (static_cast<std::size_t>(buffer_.get() + kBufferSize - cursor) >= size) return cursor;
    return Flush(cursor);
  }

  char* Begin() { return buffer_.get(); }

  char* Flush(char* cursor) {
    const std::size_t size = static_cast<std::size_t>(cursor - buffer_.get());
    if (ok_ && size > 0) ok_ = file_.Write(buffer_.get(), size);
    return buffer_.get();
  }

  bool Ok() const { return ok_; }

 private:
  platform::ReplacementFile& file_;
  std::unique_ptr<char[]> buffer_;
  bool ok_ = true;
};

}  // namespace

bool WriteDbc(const DbcTable& table, const std::string& csvPath, MessageSink& sink) {
  const std::string outputName = csvPath + ".dbc";
  platform::ReplacementFile file;
  if (!file.Create(outputName)) {
    sink.Print("ERROR: '%s': Can't create file.\n", csvPath.c_str());
    return false;
  }

  // Every record holds the same keys, so where each field's value lives is
  // settled once: intValues first, then floatValues, then byteValues. A
  // field found in none writes nothing.
  std::vector<Field> fields;
  for (std::int32_t k = 0; k < table.fieldCount; ++k) {
    if (const std::ptrdiff_t slot = table.intValues.SlotOf(k); slot >= 0) {
      fields.push_back(Field{0, static_cast<std::size_t>(slot) * 4, 4});
    } else if (const std::ptrdiff_t slot = table.floatValues.SlotOf(k); slot >= 0) {
      fields.push_back(Field{1, static_cast<std::size_t>(slot) * 4, 4});
    } else if (const std::ptrdiff_t slot = table.byteValues.SlotOf(k); slot >= 0) {
      fields.push_back(Field{2, static_cast<std::size_t>(slot), 1});
    }
  }
  std::size_t encodedSize = 0;
  for (const Field& field : fields) encodedSize += field.width;

  BufferedOutput out(file);
  char* w = out.Begin();
  w = PutFixed32(w, kMagic);
  w = PutInt32(w, table.recordCount);
  w = PutInt32(w, table.fieldCount);
  w = PutInt32(w, table.recordSize);
  w = PutInt32(w, table.stringBlockSize);

  const std::size_t records =
      table.recordCount > 0 ? static_cast<std::size_t>(table.recordCount) : 0;
  // Each value goes out as four little-endian bytes, of which a byte field
  // keeps only the first: the next field overwrites the rest. Without a
  // branch per field on its type, mixed columns cost no mispredictions.
  // The value rows are padded, so the four-byte load of a byte field at
  // the end of the last row stays inside its array.
  const bool wholeRecords = encodedSize + 3 <= kBufferSize;
  for (std::size_t r = 0; r < records; ++r) {
    const char* rows[3] = {
        table.intValues.Allocated() ? reinterpret_cast<const char*>(table.intValues.Record(r))
                                    : nullptr,
        table.floatValues.Allocated() ? reinterpret_cast<const char*>(table.floatValues.Record(r))
                                      : nullptr,
        table.byteValues.Allocated() ? reinterpret_cast<const char*>(table.byteValues.Record(r))
                                     : nullptr};
    if (wholeRecords) w = out.Reserve(w, encodedSize + 3);
    for (const Field& field : fields) {
      if (!wholeRecords) w = out.Reserve(w, 4);
      const char* const value = rows[field.row] + field.offset;
      std::uint32_t wide;
      std::memcpy(&wide, value, 4);
      PutFixed32(w, field.width == 4 ? wide : static_cast<unsigned char>(*value));
      w += field.width;
    }
  }
  w = out.Flush(w);

  const std::string& block = table.stringBlock;
  const bool written = out.Ok() && (block.empty() || file.Write(block.data(), block.size()));
  if (!written || !file.Close()) {
    sink.Print("ERROR: '%s': Can't write file.\n", csvPath.c_str());
    return false;
  }
  if (!file.Commit()) {
    sink.Print("ERROR: '%s': Can't create file.\n", csvPath.c_str());
    return false;
  }
  sink.Print("DBC file created '%s'.\n", outputName.c_str());
  return true;
}

}  // namespace dbcpack
