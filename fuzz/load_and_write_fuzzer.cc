// Fuzz target for the whole conversion of one file: arbitrary bytes are
// loaded as a CSV file's content and, when the load succeeds, written as a
// DBC file in a scratch directory of this process. The output must hold the
// format's invariants, checked from the file's own header and the CSV's
// first line, and must equal byte for byte what the slow reference reading
// builds; the messages must match too. The same bytes in two pieces (as
// the unpack's round trip hands over its text) must load alike.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbc/dbc_writer.h"
#include "fuzz_check.h"
#include "reference_dialect.h"
#include "table/dbc_table.h"
#include "table/message_sink.h"

namespace {

using dbcpack::fuzz::RefLoad;

using dbcpack::fuzz::Check;
using dbcpack::fuzz::Fail;

// A directory of this process's own, removed at exit. The name is never
// destroyed: the exit handler that removes the directory runs after static
// destructors registered before it.
const std::string& ScratchDir() {
  static const std::string* const dir = [] {
    auto* pattern =
        new std::string((std::filesystem::temp_directory_path() / "dbcpack-fuzz-XXXXXX").string());
    if (::mkdtemp(pattern->data()) == nullptr) Fail("cannot create a scratch directory");
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(ScratchDir(), error);
    });
    return pattern;
  }();
  return *dir;
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("output missing", path);
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) Fail("scratch directory vanished");
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(listing);
  return names;
}

std::uint32_t Get32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

// The column widths declared by the CSV's first line; 0 marks a String.
std::vector<int> DeclaredWidths(std::string_view content) {
  content = content.substr(0, content.find('\x1a'));
  std::string_view header = content.substr(0, content.find('\n'));
  if (!header.empty() && header.back() == '\r' && content.size() > header.size()) {
    header.remove_suffix(1);
  }
  std::vector<int> widths;
  for (;;) {
    const std::size_t comma = header.find(',');
    const std::string_view name = header.substr(0, comma);
    widths.push_back(name == "string" ? 0 : name == "byte" ? 1 : 4);
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  return widths;
}

// The format's invariants, taken from the written file alone plus the
// column types: sizes, magic, the string block's framing, where every
// string offset points and how many bytes each record holds.
void CheckInvariants(std::string_view dbc, std::string_view content) {
  Check(dbc.size() >= 20, "file shorter than its header");
  Check(dbc.substr(0, 4) == "WDBC", "bad magic");
  const std::uint64_t recordCount = Get32(dbc, 4);
  const std::uint64_t fieldCount = Get32(dbc, 8);
  const std::uint64_t recordSize = Get32(dbc, 12);
  const std::uint64_t blockSize = Get32(dbc, 16);
  Check(dbc.size() == 20 + recordCount * recordSize + blockSize,
        "size is not 20 + recordCount * recordSize + stringBlockSize");
  Check(recordCount > 0, "a loaded table without records");

  const std::vector<int> widths = DeclaredWidths(content);
  Check(fieldCount == widths.size(), "field count differs from the header line");
  std::uint64_t declaredSize = 0;
  for (const int width : widths) declaredSize += width == 0 ? 4 : static_cast<unsigned>(width);
  Check(recordSize == declaredSize, "record size differs from the declared columns");

  const std::string_view block = dbc.substr(20 + recordCount * recordSize);
  Check(blockSize >= 1 && block.front() == '\0', "string block does not start with NUL");
  Check(block.back() == '\0', "string block does not end with NUL");

  std::size_t at = 20;
  for (std::uint64_t r = 0; r < recordCount; ++r) {
    const std::size_t recordStart = at;
    for (const int width : widths) {
      if (width == 0) {
        const std::uint32_t offset = Get32(dbc, at);
        Check(offset < blockSize, "string offset outside the block");
        Check(offset == 0 || block[offset - 1] == '\0', "string offset not just behind a NUL");
      }
      at += width == 0 ? 4 : static_cast<std::size_t>(width);
    }
    Check(at - recordStart == recordSize, "record byte count differs from the record size");
  }
}

// The same content in two pieces, split after a line feed near its
// middle, each in a buffer of exactly its size (so that a read past a
// piece is caught), must load to the same table with the same messages.
void CheckInPieces(std::string_view content, const std::string& name, bool loaded,
                   const std::string& messages, const dbcpack::DbcTable& joined) {
  const std::size_t lf = content.find('\n', content.size() / 2);
  if (lf == std::string_view::npos || lf + 1 == content.size()) return;
  const std::string_view halves[] = {content.substr(0, lf + 1), content.substr(lf + 1)};
  std::unique_ptr<char[]> buffers[2];
  std::string_view pieces[2];
  for (int i = 0; i < 2; ++i) {
    buffers[i] = std::make_unique<char[]>(halves[i].size());
    std::memcpy(buffers[i].get(), halves[i].data(), halves[i].size());
    pieces[i] = std::string_view(buffers[i].get(), halves[i].size());
  }
  dbcpack::DbcTable table;
  table.fileName = name;
  dbcpack::StringSink sink;
  const bool ok = table.LoadCsvContent(std::span<const std::string_view>(pieces, 2), sink);
  Check(ok == loaded && sink.Text() == messages, "a load in two pieces differs",
        "messages:\n" + sink.Text() + "in one piece:\n" + messages);
  if (!ok) return;
  const dbcpack::TableImage a = joined.Image();
  const dbcpack::TableImage b = table.Image();
  Check(a.recordCount == b.recordCount && a.records == b.records && a.stringBlock == b.stringBlock,
        "a table loaded in two pieces differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const std::string csvPath = ScratchDir() + "/t.csv";

  dbcpack::DbcTable table;
  table.fileName = csvPath;
  dbcpack::StringSink loadMessages;
  const bool loaded = table.LoadCsvContent(content, loadMessages);

  const dbcpack::fuzz::RefLoadResult expected = RefLoad(content, csvPath);
  Check(loaded == expected.ok, "load result differs from the reference",
        "messages:\n" + loadMessages.Text() + "reference:\n" + expected.messages);
  Check(loadMessages.Text() == expected.messages, "messages differ from the reference",
        "messages:\n" + loadMessages.Text() + "reference:\n" + expected.messages);
  CheckInPieces(content, csvPath, loaded, loadMessages.Text(), table);

  if (loaded) {
    Check(table.stringBlockSize == static_cast<std::int32_t>(table.stringBlock.size()),
          "stringBlockSize differs from the block");
    dbcpack::StringSink writeMessages;
    const bool written = dbcpack::WriteDbc(table, csvPath, writeMessages);
    Check(written, "write failed", writeMessages.Text());
    Check(writeMessages.Text() == "DBC file created '" + csvPath + ".dbc'.\n",
          "unexpected write message", writeMessages.Text());
    const std::vector<std::string> names = Names(ScratchDir());
    Check(names.size() == 1 && names[0] == "t.csv.dbc", "stray files beside the output");

    const std::string dbc = ReadAll(csvPath + ".dbc");
    CheckInvariants(dbc, content);
    Check(dbc == expected.dbc, "output differs from the reference");
  }
  table.Release();
  return 0;
}
