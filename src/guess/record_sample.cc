// Taking the sample: a prefix, then runs of consecutive records, so that
// both a column's values and its differences from one record to the next
// can be seen.
#include "guess/record_sample.h"

#include <algorithm>
#include <string_view>

namespace dbcpack {
namespace {

constexpr std::uint32_t kPrefixRecords = 256;
constexpr std::uint32_t kRunRecords = 32;
constexpr std::uint64_t kMaxSampleBytes = 2 << 20;

void AddRun(const TableImage& table, RecordSample& sample, std::uint64_t& end, std::uint32_t first,
            std::uint32_t count) {
  if (count == 0) return;
  const std::string_view run =
      table.records.substr(static_cast<std::size_t>(first) * table.recordSize,
                           static_cast<std::size_t>(count) * table.recordSize);
  sample.bytes.insert(sample.bytes.end(), run.begin(), run.end());
  sample.follows.push_back(sample.rows != 0 && end == first ? 1 : 0);
  sample.follows.resize(sample.follows.size() + count - 1, 1);
  sample.rows += count;
  end = static_cast<std::uint64_t>(first) + count;
}

}  // namespace

RecordSample TakeSample(const TableImage& table, std::uint32_t maxRecords) {
  RecordSample sample;
  sample.recordSize = table.recordSize;
  std::uint64_t end = 0;
  const std::uint64_t byBytes = kMaxSampleBytes / std::max<std::uint32_t>(table.recordSize, 1);
  const auto limit = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(byBytes, 1, maxRecords));
  const std::uint32_t count = table.recordCount;
  if (count <= limit) {
    AddRun(table, sample, end, 0, count);
    return sample;
  }
  const std::uint32_t prefix = std::min(kPrefixRecords, std::max<std::uint32_t>(1, limit / 4));
  AddRun(table, sample, end, 0, prefix);
  const std::uint32_t left = limit - prefix;
  if (left == 0) return sample;
  const std::uint32_t run = std::min(kRunRecords, left);
  const std::uint32_t runs = left / run;
  // At least `run` apart: count - prefix - run > left - run >= (runs - 1) x run.
  const std::uint64_t span = count - prefix - run;
  for (std::uint32_t i = 0; i < runs; ++i) {
    const std::uint64_t step = runs > 1 ? span * i / (runs - 1) : 0;
    AddRun(table, sample, end, prefix + static_cast<std::uint32_t>(step), run);
  }
  return sample;
}

}  // namespace dbcpack
