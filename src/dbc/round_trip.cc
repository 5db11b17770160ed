// The round-trip check. Packing the text again costs a load and an encode;
// the encoded pieces are then compared with the file where it lies, so that
// the check needs no copy of either. Only when they differ are the fields
// walked, to name the first difference as the CSV would show it.
#include "dbc/round_trip.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "dbc/dbc_encoder.h"
#include "table/csv_writer.h"
#include "table/dbc_table.h"
#include "table/encoding.h"
#include "table/message_sink.h"
#include "table/number_format.h"

namespace dbcpack {
namespace {

// The name the loader gives the text in its messages.
constexpr char kTextName[] = "CSV text";
// Longer string values are cut in messages.
constexpr std::size_t kShownText = 256;

std::string Quote(std::uint64_t value) {
  std::string text(1, '\'');
  text += std::to_string(value);
  text += '\'';
  return text;
}

// The loader's first error, without the prefix that names the text and
// without its full stop, to follow a colon in a message.
std::string Refusal(const std::string& messages) {
  const std::string prefix = std::string("ERROR: '") + kTextName + "': ";
  std::size_t begin = messages.find(prefix);
  begin = begin == std::string::npos ? 0 : begin + prefix.size();
  std::size_t end = messages.find('\n', begin);
  if (end == std::string::npos) end = messages.size();
  if (end > begin && messages[end - 1] == '.') --end;
  return messages.substr(begin, end - begin);
}

// Two of the packer's messages count string fields from 0, where every
// message of this program counts from 1: the quoted message keeps its own
// words, and the field follows as the rest of the run counts it.
std::string WithFieldCountedFromOne(std::string refusal) {
  for (const std::string_view start :
       {"Unexpected end of string in field '", "Missing \" in the end of string in field '"}) {
    if (!refusal.starts_with(start)) continue;
    std::uint64_t field = 0;
    const char* const end = refusal.data() + refusal.size();
    const auto [stop, error] = std::from_chars(refusal.data() + start.size(), end, field);
    if (error != std::errc() || stop == end || *stop != '\'') break;
    refusal +=
        " (that is field " + Quote(field + 1) + ", counting from 1 as the other messages do)";
    break;
  }
  return refusal;
}

// The string at `offset`, or nothing when it does not lie in the block
// with its NUL.
std::optional<std::string_view> StringAt(std::string_view block, std::uint32_t offset) {
  if (offset >= block.size()) return std::nullopt;
  const void* nul = std::memchr(block.data() + offset, '\0', block.size() - offset);
  if (nul == nullptr) return std::nullopt;
  return block.substr(
      offset, static_cast<std::size_t>(static_cast<const char*>(nul) - (block.data() + offset)));
}

std::string ShownString(std::optional<std::string_view> value, std::uint32_t offset) {
  if (!value) return "offset " + Quote(offset) + ", outside the string block";
  std::string text = QuotedCsvString(*value);
  if (text.size() > kShownText) text.replace(kShownText, std::string::npos, "...");
  return text;
}

// A field's value as the CSV shows it.
std::string FieldText(FieldType type, const char* field, std::string_view block) {
  switch (type) {
    case FieldType::Int:
      return std::to_string(DecodeInt32(field));
    case FieldType::Byte:
      return std::to_string(static_cast<unsigned char>(*field));
    case FieldType::Float: {
      const std::uint32_t bits = DecodeFixed32(field);
      const float value = std::bit_cast<float>(bits);
      if (value != value) {
        char text[32];
        (void)std::snprintf(text, sizeof text, "NaN (bits 0x%08X)", static_cast<unsigned>(bits));
        return text;
      }
      char text[kMaxFloatText];
      return std::string(text, FormatFloat(value, text));
    }
    case FieldType::String:
      break;
  }
  const std::uint32_t offset = DecodeFixed32(field);
  return ShownString(StringAt(block, offset), offset);
}

bool SameValue(FieldType type, const char* a, std::string_view blockA, const char* b,
               std::string_view blockB) {
  if (type != FieldType::String) {
    return std::memcmp(a, b, static_cast<std::size_t>(FieldTypeWidth(type))) == 0;
  }
  return StringAt(blockA, DecodeFixed32(a)) == StringAt(blockB, DecodeFixed32(b));
}

// Where two strings that show as the same text differ: the text is cut,
// or the file's string holds what the text cannot carry (a backslash right
// before a line break, which reads back as a backslash and a letter). The
// first byte that differs, in hexadecimal, tells any two strings apart.
std::string WhereStringsDiffer(std::string_view block, const char* field,
                               std::string_view packedBlock, const char* packedField) {
  const std::string_view a = StringAt(block, DecodeFixed32(field)).value_or("");
  const std::string_view b = StringAt(packedBlock, DecodeFixed32(packedField)).value_or("");
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const auto byte = [](std::string_view s, std::size_t at) {
    if (at == s.size()) return std::string("the end of the string");
    char text[8];
    (void)std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned char>(s[at]));
    return std::string(text);
  };
  return " (byte " + Quote(i + 1) + " of the string is " + byte(a, i) + " in the file and " +
         byte(b, i) + " after packing)";
}

// The first field, record by record, whose value differs; nothing when
// every field reads the same.
std::optional<std::string> FirstFieldDifference(const TableImage& file, const TableImage& packed,
                                                const std::vector<FieldType>& types) {
  for (std::uint32_t r = 0; r < file.recordCount; ++r) {
    const char* a = file.Record(r).data();
    const char* b = packed.Record(r).data();
    for (std::uint32_t k = 0; k < types.size(); ++k) {
      const FieldType type = types[k];
      if (!SameValue(type, a, file.stringBlock, b, packed.stringBlock)) {
        const std::string before = FieldText(type, a, file.stringBlock);
        const std::string after = FieldText(type, b, packed.stringBlock);
        std::string text = "record " + Quote(r + 1) + ", field " + Quote(k + 1) + " is ";
        text.append(before).append(" in the file and ").append(after).append(" after packing");
        if (before == after) text += WhereStringsDiffer(file.stringBlock, a, packed.stringBlock, b);
        return text;
      }
      a += FieldTypeWidth(type);
      b += FieldTypeWidth(type);
    }
  }
  return std::nullopt;
}

// The first String field, record by record, whose offset in the file is
// not the one packing gives it, and what packing does there.
struct OffsetMismatch {
  std::uint32_t record = 0;
  std::uint32_t field = 0;
  std::uint32_t fileOffset = 0;
  std::uint32_t packedOffset = 0;
  bool repeated = false;  // packing reuses an earlier copy
  std::string shown;      // the string, as the CSV shows it
};

std::optional<OffsetMismatch> FirstOffsetMismatch(const TableImage& file, const TableImage& packed,
                                                  const std::vector<FieldType>& types) {
  // Packing stores strings in the order of first use, so a string is new
  // exactly when its offset is where the block had grown to.
  std::uint64_t grown = 1;
  for (std::uint32_t r = 0; r < file.recordCount; ++r) {
    const char* a = file.Record(r).data();
    const char* b = packed.Record(r).data();
    for (std::uint32_t k = 0; k < types.size(); ++k) {
      if (types[k] == FieldType::String) {
        const std::uint32_t o = DecodeFixed32(a);
        const std::uint32_t c = DecodeFixed32(b);
        const std::optional<std::string_view> value = StringAt(packed.stringBlock, c);
        const bool repeated = c != 0 && c < grown;
        if (c != 0 && c == grown && value) grown += value->size() + 1;
        if (o != c) return OffsetMismatch{r, k, o, c, repeated, ShownString(value, c)};
      }
      a += FieldTypeWidth(types[k]);
      b += FieldTypeWidth(types[k]);
    }
  }
  return std::nullopt;
}

// Bytes of the file's string block that no String field's string covers,
// the leading NUL apart. A string that starts inside one already covered
// ends at the same NUL, so each byte is visited about once.
std::size_t UnusedStringBytes(const TableImage& file, const std::vector<FieldType>& types) {
  const std::string_view block = file.stringBlock;
  if (block.empty()) return 0;
  std::vector<bool> used(block.size());
  used[0] = true;
  std::size_t unused = block.size() - 1;
  for (std::uint32_t r = 0; r < file.recordCount; ++r) {
    const char* a = file.Record(r).data();
    for (std::uint32_t k = 0; k < types.size(); ++k) {
      const std::uint32_t o = types[k] == FieldType::String ? DecodeFixed32(a) : 0;
      for (std::size_t i = o; i < block.size() && !used[i]; ++i) {
        used[i] = true;
        --unused;
        if (block[i] == '\0') break;
      }
      a += FieldTypeWidth(types[k]);
    }
  }
  return unused;
}

std::string LayoutDifference(const TableImage& file, DbcTable& packed,
                             const std::vector<FieldType>& types) {
  const std::string text =
      "the same strings behind every offset, but the string block is laid out differently";
  const std::optional<OffsetMismatch> m = FirstOffsetMismatch(file, packed.Image(), types);
  // The packed table is not needed past this point; the map of used bytes
  // below may be large.
  packed.Release();
  const std::string where =
      m ? "record " + Quote(m->record + 1) + ", field " + Quote(m->field + 1) + " finds " : "";
  if (m && m->packedOffset == 0) {
    return text + ": " + where + "the empty string at offset " + Quote(m->fileOffset) +
           ", where packing uses offset '0'";
  }
  if (m && m->repeated) {
    return text + ": its strings are not stored once each: " + where + m->shown + " at offset " +
           Quote(m->fileOffset) + ", where packing reuses its first copy at offset " +
           Quote(m->packedOffset);
  }
  const std::size_t unused = UnusedStringBytes(file, types);
  if (unused > 0) {
    return text + ": it holds strings no record uses (" + Quote(unused) + " of its " +
           Quote(file.stringBlock.size()) + " bytes)";
  }
  if (m) {
    return text + ": its strings are not stored in the order of first use: " + where + m->shown +
           " at offset " + Quote(m->fileOffset) + ", where packing puts it at offset " +
           Quote(m->packedOffset);
  }
  return text +
         " (its strings are not stored once each in the order of first use, or it holds strings "
         "no record uses)";
}

bool SameBytes(const EncodedDbc& encoded, std::string_view file) {
  if (file.size() != encoded.Size()) return false;
  std::size_t at = 0;
  for (const std::string_view piece : encoded.Pieces()) {
    if (!piece.empty() && std::memcmp(file.data() + at, piece.data(), piece.size()) != 0) {
      return false;
    }
    at += piece.size();
  }
  return true;
}

// The counts the header stores, by their place in it.
struct HeaderCount {
  const char* name;
  std::size_t at;
};
constexpr HeaderCount kTableCounts[] = {
    {"record count", 4}, {"field count", 8}, {"record size", 12}};
constexpr std::size_t kBlockSizeAt = 16;

// What is left when every field reads the same and the records' shape
// agrees: the string block, its size in the header, bytes after it.
std::string BlockDifference(std::string_view dbcFile, const TableImage& original, DbcTable& packed,
                            const std::vector<FieldType>& types) {
  const TableImage image = packed.Image();
  if (original.stringBlock != image.stringBlock || FirstOffsetMismatch(original, image, types)) {
    return LayoutDifference(original, packed, types);
  }
  const std::uint32_t blockSize = DecodeFixed32(dbcFile.data() + kBlockSizeAt);
  if (blockSize < image.stringBlock.size()) {
    return "the file's header under-states its string block: " + Quote(blockSize) +
           " bytes, where its strings take " + Quote(image.stringBlock.size()) +
           " (as packing writes it)";
  }
  if (blockSize != image.stringBlock.size()) {
    return "the string block size is " + Quote(blockSize) + " in the file and " +
           Quote(image.stringBlock.size()) + " after packing";
  }
  const std::uint64_t described =
      kDbcHeaderSize + std::uint64_t{image.recordCount} * image.recordSize + blockSize;
  if (dbcFile.size() > described) {
    return "the file is longer than its header says: " + Quote(dbcFile.size() - described) +
           " bytes follow the string block";
  }
  return "the file has " + Quote(dbcFile.size()) + " bytes and " + Quote(EncodeDbc(image).Size()) +
         " after packing";
}

std::string Difference(std::string_view dbcFile, const TableImage& original, DbcTable& packed,
                       const std::vector<FieldType>& types) {
  const EncodedDbc encoded = EncodeDbc(packed.Image());
  if (dbcFile.size() < kDbcHeaderSize || dbcFile.substr(0, 4) != encoded.Pieces()[0].substr(0, 4)) {
    return "the file does not start with a DBC header";
  }
  for (const HeaderCount& count : kTableCounts) {
    const std::uint32_t inFile = DecodeFixed32(dbcFile.data() + count.at);
    const std::uint32_t afterPacking = DecodeFixed32(encoded.header.data() + count.at);
    if (inFile != afterPacking) {
      return std::string("the ") + count.name + " is " + Quote(inFile) + " in the file and " +
             Quote(afterPacking) + " after packing";
    }
  }
  const TableImage image = packed.Image();
  const bool shapesAgree =
      original.recordCount == image.recordCount && original.fieldCount == image.fieldCount &&
      original.recordSize == image.recordSize && types.size() == image.fieldCount &&
      RecordSizeOf(types) == image.recordSize;
  if (!shapesAgree) return "the table's shape differs from its header";
  if (std::optional<std::string> field = FirstFieldDifference(original, image, types)) {
    return *field;
  }
  return BlockDifference(dbcFile, original, packed, types);
}

}  // namespace

RoundTrip CheckRoundTrip(std::string_view csv, std::string_view dbcFile, const TableImage& original,
                         const std::vector<FieldType>& types) {
  return CheckRoundTrip(std::span<const std::string_view>(&csv, 1), dbcFile, original, types);
}

RoundTrip CheckRoundTrip(std::span<const std::string_view> csv, std::string_view dbcFile,
                         const TableImage& original, const std::vector<FieldType>& types) {
  RoundTrip result;
  DbcTable packed;
  packed.fileName = kTextName;
  StringSink messages;
  if (!packed.LoadCsvContent(csv, messages)) {
    result.difference =
        "dbcpack refuses the CSV text: " + WithFieldCountedFromOne(Refusal(messages.Text()));
    return result;
  }
  if (SameBytes(EncodeDbc(packed.Image()), dbcFile)) {
    result.exact = true;
    return result;
  }
  result.difference = Difference(dbcFile, original, packed, types);
  return result;
}

}  // namespace dbcpack
