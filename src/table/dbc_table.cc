// The table's storage: its records, the three value maps over them, and
// its release.
#include "table/dbc_table.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "table/encoding.h"

namespace dbcpack {

template <typename T>
std::optional<T> RecordValues<T>::Find(std::size_t record, std::int32_t key) const {
  if (image_ == nullptr || record >= recordCount_) return std::nullopt;
  const auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
  if (it == keys_.end() || *it != key) return std::nullopt;
  const char* value =
      image_ + record * recordSize_ + offsets_[static_cast<std::size_t>(it - keys_.begin())];
  if constexpr (sizeof(T) == 1) {
    return static_cast<T>(static_cast<unsigned char>(*value));
  } else if constexpr (std::is_same_v<T, float>) {
    return DecodeFloat(value);
  } else {
    return DecodeInt32(value);
  }
}

template class RecordValues<std::int32_t>;
template class RecordValues<float>;
template class RecordValues<std::uint8_t>;

std::vector<std::size_t> DbcTable::AllocateRecords(const std::vector<FieldType>& types,
                                                   std::size_t allocatedRecords) {
  fieldCount = static_cast<std::int32_t>(types.size());
  recordSize = static_cast<std::int32_t>(RecordSizeOf(types));
  records.Allocate(allocatedRecords * static_cast<std::size_t>(recordSize) + kRecordPadding);

  std::vector<std::size_t> offsets;
  offsets.reserve(types.size());
  RecordValues<std::int32_t> ints;
  RecordValues<float> floats;
  RecordValues<std::uint8_t> bytes;
  std::size_t offset = 0;
  for (std::size_t k = 0; k < types.size(); ++k) {
    const auto key = static_cast<std::int32_t>(k);
    switch (types[k]) {
      case FieldType::Float:
        floats.keys_.push_back(key);
        floats.offsets_.push_back(offset);
        break;
      case FieldType::Byte:
        bytes.keys_.push_back(key);
        bytes.offsets_.push_back(offset);
        break;
      case FieldType::String:
      case FieldType::Int:
        ints.keys_.push_back(key);
        ints.offsets_.push_back(offset);
        break;
    }
    offsets.push_back(offset);
    offset += static_cast<std::size_t>(FieldTypeWidth(types[k]));
  }
  intValues = std::move(ints);
  floatValues = std::move(floats);
  byteValues = std::move(bytes);
  AttachValues(allocatedRecords);
  return offsets;
}

void DbcTable::GrowRecords(std::size_t allocatedRecords) {
  const std::size_t size = static_cast<std::size_t>(recordSize);
  platform::LargeBuffer grown;
  grown.Allocate(allocatedRecords * size + kRecordPadding);
  std::memcpy(grown.Data(), records.Data(), std::min(records.Size(), grown.Size()));
  records = std::move(grown);
  AttachValues(allocatedRecords);
}

void DbcTable::AttachValues(std::size_t count) {
  const auto attach = [&](auto& values) {
    values.image_ = records.Data();
    values.recordSize_ = static_cast<std::size_t>(recordSize);
    values.recordCount_ = count;
  };
  attach(intValues);
  attach(floatValues);
  attach(byteValues);
}

TableImage DbcTable::Image() const {
  TableImage image;
  image.recordCount = static_cast<std::uint32_t>(recordCount);
  image.fieldCount = static_cast<std::uint32_t>(fieldCount);
  image.recordSize = static_cast<std::uint32_t>(recordSize);
  image.records = std::string_view(
      records.Data(), static_cast<std::size_t>(recordCount) * static_cast<std::size_t>(recordSize));
  image.stringBlock = std::string_view(stringBlock.data(), stringBlock.size());
  return image;
}

void DbcTable::Release() {
  intValues = RecordValues<std::int32_t>();
  floatValues = RecordValues<float>();
  byteValues = RecordValues<std::uint8_t>();
  records.Release();
  platform::LargeString().swap(stringBlock);
  std::string().swap(fileName);
  recordCount = 0;
  fieldCount = 0;
  recordSize = 0;
  stringBlockSize = 0;
  lineNumber = 1;
  fieldIndex = 0;
}

}  // namespace dbcpack
