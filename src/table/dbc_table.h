// The in-memory form of one table on its way from a CSV file to a DBC file:
// the loader fills it, the writer reads it, and it serves one file only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/large_memory.h"
#include "table/field_type.h"
#include "table/message_sink.h"
#include "table/table_image.h"

namespace dbcpack {

// The values of one kind (ints and string offsets, floats, or bytes) of
// every record: a map from zero-based field index to value per record. All
// records hold the same keys, so the keys are kept once, and the values are
// read from the table's records, where the loader encoded each of them in
// its place: no value is stored twice.
template <typename T>
class RecordValues {
 public:
  bool Allocated() const { return image_ != nullptr; }
  const std::vector<std::int32_t>& Keys() const { return keys_; }

  // Map look-up: the value of `key` in `record`, or nothing when absent.
  std::optional<T> Find(std::size_t record, std::int32_t key) const;

 private:
  friend struct DbcTable;

  std::vector<std::int32_t> keys_;    // ascending
  std::vector<std::size_t> offsets_;  // where each key's value lies in a record
  const char* image_ = nullptr;       // the table's records
  std::size_t recordSize_ = 0;
  std::size_t recordCount_ = 0;
};

struct DbcTable {
  std::int32_t recordCount = 0;
  std::int32_t fieldCount = 0;
  std::int32_t recordSize = 0;
  // Size of the string block as written; equals stringBlock.size() after a
  // successful load.
  std::int32_t stringBlockSize = 1;
  // Every string value followed by a NUL; offset 0 is the empty string.
  platform::LargeString stringBlock = platform::LargeString(1, '\0');
  RecordValues<std::int32_t> intValues;  // Int and String fields
  RecordValues<float> floatValues;
  RecordValues<std::uint8_t> byteValues;
  std::string fileName;
  std::int32_t lineNumber = 1;  // line being read, the header is line 1
  std::int32_t fieldIndex = 0;  // zero-based field within that line

  // The records exactly as the DBC file holds them, recordSize bytes each,
  // every value little-endian at its field's offset: the loader encodes each
  // value straight into its place, so writing the file copies them once.
  // A few spare bytes follow the last record, so that a four-byte store may
  // be made at the place of any field, a one-byte field too.
  platform::LargeBuffer records;
  static constexpr std::size_t kRecordPadding = 4;

  // Reads the CSV file at `path` and fills the table, printing progress and
  // any error to `sink`. Returns false after an error message.
  // REQUIRES: a freshly constructed table.
  bool LoadCsv(const std::string& path, MessageSink& sink);

  // The part of LoadCsv after the file was read and "Loading file" printed:
  // parses `content` (the file's bytes) under the name already in fileName.
  bool LoadCsvContent(std::string_view content, MessageSink& sink);
  // The same for content in pieces that follow one another, as text made
  // by several threads comes: the same table as from their concatenation.
  bool LoadCsvContent(std::span<const std::string_view> pieces, MessageSink& sink);

  // Parses the content into the table, printing every message of a load
  // but the final "CSV file loaded".
  // REQUIRES: every piece but the last ends in a line feed.
  bool ParseCsv(std::span<const std::string_view> pieces, MessageSink& sink);

  // Sets fieldCount and recordSize from `types`, allocates room for
  // `allocatedRecords` zero-filled records and the three value maps
  // over them. Returns the byte offset of each field in a record.
  // REQUIRES: the record size of `types` fits in 32 bits.
  std::vector<std::size_t> AllocateRecords(const std::vector<FieldType>& types,
                                           std::size_t allocatedRecords);

  // Room for `allocatedRecords` records, the bytes of those already there
  // kept: the loader's first guess of a table's length can fall short.
  void GrowRecords(std::size_t allocatedRecords);

  // Points the three value maps at the records, the first `count` of them.
  void AttachValues(std::size_t count);

  // The loaded table as a DBC file lays it out.
  // REQUIRES: a successful load (or records allocated for recordCount).
  TableImage Image() const;

  // Frees everything and resets the counters; stringBlockSize becomes 0.
  // A released table is not used again.
  void Release();
};

}  // namespace dbcpack
