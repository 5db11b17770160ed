// The in-memory form of one table on its way from a CSV file to a DBC file:
// the loader fills it, the writer reads it, and it serves one file only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "table/message_sink.h"

namespace dbcpack {

// For every record, a map from zero-based field index to value. All records
// of a loaded table hold the same keys, so the keys are kept once, sorted,
// and each record keeps only its values, side by side: no node and no key
// is stored per value.
template <typename T>
class RecordValues {
 public:
  bool Allocated() const { return allocated_; }

  // Every one of `recordCount` records holds every key in `sortedKeys`; the
  // values are undefined until set. `sortedKeys` must be ascending.
  void Allocate(std::size_t recordCount, std::vector<std::int32_t> sortedKeys) {
    keys_ = std::move(sortedKeys);
    recordCount_ = recordCount;
    values_ = std::make_unique_for_overwrite<T[]>(recordCount * keys_.size() + kPadding);
    allocated_ = true;
  }

  void Release() {
    values_.reset();
    keys_.clear();
    keys_.shrink_to_fit();
    recordCount_ = 0;
    allocated_ = false;
  }

  const std::vector<std::int32_t>& Keys() const { return keys_; }

  // Position of `key` among the keys, or -1 when no record holds it.
  std::ptrdiff_t SlotOf(std::int32_t key) const {
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
    return it != keys_.end() && *it == key ? it - keys_.begin() : -1;
  }

  // The values of one record, one per key in key order.
  T* Record(std::size_t record) { return values_.get() + record * keys_.size(); }
  const T* Record(std::size_t record) const { return values_.get() + record * keys_.size(); }

  // Map look-up: the value of `key` in `record`, or null when absent.
  const T* Find(std::size_t record, std::int32_t key) const {
    if (!allocated_ || record >= recordCount_) return nullptr;
    const std::ptrdiff_t slot = SlotOf(key);
    return slot < 0 ? nullptr : Record(record) + slot;
  }

 private:
  // Spare values after the last record, so that a reader may load four
  // bytes at any value's address.
  static constexpr std::size_t kPadding = 4;

  std::vector<std::int32_t> keys_;
  std::unique_ptr<T[]> values_;
  std::size_t recordCount_ = 0;
  bool allocated_ = false;
};

struct DbcTable {
  std::int32_t recordCount = 0;
  std::int32_t fieldCount = 0;
  std::int32_t recordSize = 0;
  // Size of the string block as written; equals stringBlock.size() after a
  // successful load.
  std::int32_t stringBlockSize = 1;
  // Every string value followed by a NUL; offset 0 is the empty string.
  std::string stringBlock = std::string(1, '\0');
  RecordValues<std::int32_t> intValues;  // Int and String fields
  RecordValues<float> floatValues;
  RecordValues<std::uint8_t> byteValues;
  std::string fileName;
  std::int32_t lineNumber = 1;  // line being read, the header is line 1
  std::int32_t fieldIndex = 0;  // zero-based field within that line

  // Reads the CSV file at `path` and fills the table, printing progress and
  // any error to `sink`. Returns false after an error message.
  // REQUIRES: a freshly constructed table.
  bool LoadCsv(const std::string& path, MessageSink& sink);

  // The part of LoadCsv after the file was read and "Loading file" printed:
  // parses `content` (the file's bytes) under the name already in fileName.
  bool LoadCsvContent(std::string_view content, MessageSink& sink);

  // Parses `content` into the table, printing every message of a load but
  // the final "CSV file loaded".
  bool ParseCsv(std::string_view content, MessageSink& sink);

  // Frees everything and resets the counters; stringBlockSize becomes 0.
  // A released table is not used again.
  void Release();
};

}  // namespace dbcpack
