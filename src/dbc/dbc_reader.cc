// Reading a DBC file's header against the file's own size, and the checks
// of a list of column types and of the string fields against the table.
// Every size is computed in 64 bits: four 32-bit counts, two of them
// multiplied, cannot pass 2^64, so no sum or product here overflows. What
// is read with a warning is listed at ReadDbc.
#include "dbc/dbc_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dbc/dbc_encoder.h"
#include "table/encoding.h"

namespace dbcpack {
namespace {

// Far more columns than any table has; a record of that many fields is a
// megabyte at least.
constexpr std::uint32_t kMaxFields = 1u << 20;

struct Header {
  std::uint32_t recordCount;
  std::uint32_t fieldCount;
  std::uint32_t recordSize;
  std::uint32_t blockSize;
};

Header DecodeHeader(const char* bytes) {
  return Header{DecodeFixed32(bytes + 4), DecodeFixed32(bytes + 8), DecodeFixed32(bytes + 12),
                DecodeFixed32(bytes + 16)};
}

// The field count and record size on their own: fields of one or four
// bytes each can make up the record.
bool CheckRecordShape(const Header& header, const char* name, MessageSink& sink) {
  const std::uint64_t fields = header.fieldCount;
  const std::uint64_t size = header.recordSize;
  if (fields == 0) {
    sink.Print("ERROR: '%s': Header declares no fields.\n", name);
    return false;
  }
  // A file holds at least a byte per field of a record, but a table without
  // records holds none: without a bound, 20 bytes could ask for a header
  // line of billions of types, and each field costs far more memory here
  // than the byte it takes in a record.
  if (fields > kMaxFields) {
    sink.Print("ERROR: '%s': Header declares '%u' fields, more than the '%u' a table may have.\n",
               name, header.fieldCount, kMaxFields);
    return false;
  }
  if (size < fields) {
    sink.Print("ERROR: '%s': Record size '%u' is smaller than the field count '%u'.\n", name,
               header.recordSize, header.fieldCount);
    return false;
  }
  if (size > 4 * fields) {
    sink.Print(
        "ERROR: '%s': Record size '%u' is larger than 4 bytes for each of the '%u' fields.\n", name,
        header.recordSize, header.fieldCount);
    return false;
  }
  // b one-byte and fields - b four-byte fields take 4 x fields - 3b bytes.
  if ((4 * fields - size) % 3 != 0) {
    sink.Print("ERROR: '%s': Record size '%u' cannot be made of '%u' fields of 1 or 4 bytes.\n",
               name, header.recordSize, header.fieldCount);
    return false;
  }
  return true;
}

// The string block from `start`: `declared` bytes, or, when those end
// inside a string and the file holds the NUL that ends it, through that
// NUL, with a warning. `tail` is set to the bytes after it.
std::string_view TakeStringBlock(std::string_view bytes, std::size_t start, std::uint32_t declared,
                                 std::string_view& tail, const char* name, MessageSink& sink) {
  std::size_t size = declared;
  tail = bytes.substr(start + size);
  // A block grown past 32 bits could not be written back; it stays as is.
  const std::size_t room = std::numeric_limits<std::uint32_t>::max() - size;
  if (bytes[start + size - 1] != '\0' && !tail.empty()) {
    const void* nul = std::memchr(tail.data(), '\0', std::min(tail.size(), room));
    if (nul != nullptr) {
      const auto more = static_cast<std::size_t>(static_cast<const char*>(nul) - tail.data()) + 1;
      sink.Print(
          "WARNING: '%s': String block of '%u' bytes ends inside a string; it is read through "
          "the NUL that ends it, '%zu' bytes further.\n",
          name, declared, more);
      size += more;
      tail.remove_prefix(more);
    }
  }
  return bytes.substr(start, size);
}

// Where the string fields lie in a record, and their one-based numbers.
struct StringColumn {
  std::size_t offset;
  std::uint32_t field;
};

std::vector<StringColumn> StringColumns(const std::vector<FieldType>& types) {
  std::vector<StringColumn> columns;
  std::size_t offset = 0;
  for (std::size_t k = 0; k < types.size(); ++k) {
    if (types[k] == FieldType::String) {
      columns.push_back(StringColumn{offset, static_cast<std::uint32_t>(k + 1)});
    }
    offset += static_cast<std::size_t>(FieldTypeWidth(types[k]));
  }
  return columns;
}

// The size of a string block that reaches every string the records point
// at past the block: through the NUL that ends the furthest of them. 0 when
// none points past the block, or when one of them does not point at a
// string start in the file (right behind a NUL, the string ended by a NUL),
// or the block would pass 2^32 - 1 bytes.
std::size_t BlockThroughStringsPastIt(const TableImage& table,
                                      const std::vector<StringColumn>& columns) {
  const std::string_view area = FileStringArea(table);
  const std::size_t blockSize = table.stringBlock.size();
  std::size_t furthest = 0;
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount; ++r, record += table.recordSize) {
    for (const StringColumn& column : columns) {
      const std::size_t offset = DecodeFixed32(record + column.offset);
      if (offset < blockSize) continue;
      // The block starts with a NUL, so offset - 1 lies inside the area.
      if (offset >= area.size() || area[offset - 1] != '\0') return 0;
      furthest = std::max(furthest, offset);
    }
  }
  if (furthest == 0) return 0;
  // The area ends with a NUL, so there is one at or after `furthest`.
  const std::size_t nul = area.find('\0', furthest);
  if (nul >= std::numeric_limits<std::uint32_t>::max()) return 0;
  return nul + 1;
}

}  // namespace

bool ReadDbc(std::string_view bytes, const std::string& name, TableImage& table,
             MessageSink& sink) {
  const char* const file = name.c_str();
  const std::size_t magicBytes = std::min<std::size_t>(bytes.size(), 4);
  if (bytes.substr(0, magicBytes) != std::string_view("WDBC", magicBytes)) {
    sink.Print("ERROR: '%s': Not a DBC file: it does not start with WDBC.\n", file);
    return false;
  }
  if (bytes.size() < kDbcHeaderSize) {
    sink.Print("ERROR: '%s': File is shorter than a DBC header ('%zu' of '20' bytes).\n", file,
               bytes.size());
    return false;
  }
  const Header header = DecodeHeader(bytes.data());
  if (!CheckRecordShape(header, file, sink)) return false;
  const std::uint64_t recordBytes =
      static_cast<std::uint64_t>(header.recordCount) * header.recordSize;
  const std::uint64_t declared = kDbcHeaderSize + recordBytes + header.blockSize;
  if (declared > bytes.size()) {
    sink.Print(
        "ERROR: '%s': Header declares %s of '%u' bytes and a '%u'-byte string block, "
        "'%llu' bytes with the header, but the file holds '%llu'.\n",
        file, CountOf(header.recordCount, "record", "records").c_str(), header.recordSize,
        header.blockSize, static_cast<unsigned long long>(declared),
        static_cast<unsigned long long>(bytes.size()));
    return false;
  }
  // Both fit in the file, so in size_t.
  const auto blockStart = static_cast<std::size_t>(kDbcHeaderSize + recordBytes);
  if (header.blockSize == 0 || bytes[blockStart] != '\0') {
    sink.Print("ERROR: '%s': String block does not start with a NUL byte.\n", file);
    return false;
  }
  table.recordCount = header.recordCount;
  table.fieldCount = header.fieldCount;
  table.recordSize = header.recordSize;
  table.records = bytes.substr(kDbcHeaderSize, static_cast<std::size_t>(recordBytes));
  table.stringBlock =
      TakeStringBlock(bytes, blockStart, header.blockSize, table.stringTail, file, sink);
  return true;
}

std::string_view FileStringArea(const TableImage& table) {
  const std::size_t lastNul = table.stringTail.rfind('\0');
  if (lastNul == std::string_view::npos) return table.stringBlock;
  // The tail follows the block in the file.
  return std::string_view(table.stringBlock.data(), table.stringBlock.size() + lastNul + 1);
}

void SettleStringBlock(TableImage& table, const std::vector<FieldType>& types,
                       const std::string& name, MessageSink& sink) {
  std::string_view tail = table.stringTail;
  if (tail.empty()) return;
  const std::size_t size = BlockThroughStringsPastIt(table, StringColumns(types));
  if (size != 0) {
    sink.Print(
        "WARNING: '%s': Header under-states the string block: records point at strings after "
        "its '%zu' bytes, so it is read as '%zu' bytes.\n",
        name.c_str(), table.stringBlock.size(), size);
    tail.remove_prefix(size - table.stringBlock.size());
    table.stringBlock = FileStringArea(table).substr(0, size);
  }
  if (!tail.empty()) {
    sink.Print(
        "WARNING: '%s': File holds '%llu' bytes after its string block; they are left out.\n",
        name.c_str(), static_cast<unsigned long long>(tail.size()));
  }
  table.stringTail = tail;
}

bool CheckTypesFit(const TableImage& table, const std::vector<FieldType>& types,
                   const std::string& name, MessageSink& sink) {
  const std::int64_t size = RecordSizeOf(types);
  if (types.size() == table.fieldCount && size == table.recordSize) return true;
  sink.Print(
      "ERROR: '%s': The types give %s and '%lld'-byte records; the file has %s and "
      "'%u'-byte records.\n",
      name.c_str(), CountOf(types.size(), "field", "fields").c_str(), static_cast<long long>(size),
      CountOf(table.fieldCount, "field", "fields").c_str(), table.recordSize);
  return false;
}

bool CheckStringFields(const TableImage& table, const std::vector<FieldType>& types,
                       const std::string& name, MessageSink& sink) {
  const std::vector<StringColumn> columns = StringColumns(types);
  if (columns.empty()) return true;
  const std::string_view block = table.stringBlock;
  // Every offset up to the block's last NUL has a NUL after it in the
  // block; no other offset has.
  const std::size_t lastNul = block.rfind('\0');
  const std::size_t ended = lastNul == std::string_view::npos ? 0 : lastNul + 1;
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount; ++r, record += table.recordSize) {
    for (const StringColumn& column : columns) {
      const std::uint32_t offset = DecodeFixed32(record + column.offset);
      if (offset < ended) continue;
      if (offset >= block.size()) {
        sink.Print(
            "ERROR: '%s': Record '%u', field '%u': string offset '%u' lies outside the '%zu'-byte "
            "string block.\n",
            name.c_str(), r + 1, column.field, offset, block.size());
      } else {
        sink.Print(
            "ERROR: '%s': Record '%u', field '%u': the string at offset '%u' is not ended by a "
            "NUL before the string block ends.\n",
            name.c_str(), r + 1, column.field, offset);
      }
      return false;
    }
  }
  return true;
}

}  // namespace dbcpack
