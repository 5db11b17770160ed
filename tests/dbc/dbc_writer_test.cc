// The DBC writer: exact bytes, and that no failure loses an earlier output
// or leaves a partial file behind.
#include "dbc/dbc_writer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#endif

#include <filesystem>

#include "table/dbc_table.h"
#include "table/encoding.h"
#include "table/field_type.h"
#include "test_util.h"

namespace dbcpack {
namespace {

using testing::DbcBytes;
using testing::ListNames;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Fills a table as a successful load would, from column types and rows of
// already-converted values (ints, string offsets, float bits as floats).
struct Cell {
  std::int32_t i = 0;
  float f = 0;
};

DbcTable MakeTable(const std::vector<FieldType>& types, const std::vector<std::vector<Cell>>& rows,
                   std::string block) {
  DbcTable table;
  table.recordCount = static_cast<std::int32_t>(rows.size());
  const std::vector<std::size_t> offsets = table.AllocateRecords(types, rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    char* const record = table.records.Data() + r * static_cast<std::size_t>(table.recordSize);
    for (std::size_t k = 0; k < types.size(); ++k) {
      char* const field = record + offsets[k];
      switch (types[k]) {
        case FieldType::Float:
          PutFloat(field, rows[r][k].f);
          break;
        case FieldType::Byte:
          *field = static_cast<char>(rows[r][k].i);
          break;
        default:
          PutInt32(field, rows[r][k].i);
          break;
      }
    }
  }
  table.stringBlock.assign(block);
  table.stringBlockSize = static_cast<std::int32_t>(table.stringBlock.size());
  return table;
}

DbcTable ItemsTable() {
  using T = FieldType;
  return MakeTable({T::Int, T::String, T::Float}, {{{1}, {1}, {0, 2.5f}}, {{2}, {0}, {0, 0.0f}}},
                   std::string("\0Sword\0", 7));
}

std::string ItemsBytes() {
  return DbcBytes()
      .Header(2, 3, 12, 7)
      .Int(1)
      .Int(1)
      .Float(2.5f)
      .Int(2)
      .Int(0)
      .Float(0.0f)
      .Raw(std::string_view("\0Sword\0", 7))
      .Str();
}

TEST(DbcWriterTest, WritesExactBytes) {
  using T = FieldType;
  struct Case {
    const char* name;
    DbcTable table;
    std::string expected;
  };
  Case cases[] = {
      {"items", ItemsTable(), ItemsBytes()},
      {"byte between ints",
       MakeTable({T::Int, T::Byte, T::Int}, {{{-1}, {200}, {0x01020304}}}, std::string(1, '\0')),
       DbcBytes()
           .Header(1, 3, 9, 1)
           .Int(-1)
           .Byte(200)
           .Int(0x01020304)
           .Raw(std::string(1, '\0'))
           .Str()},
      {"numeric only",
       MakeTable({T::Float, T::Int}, {{{0, -0.0f}, {7}}, {{0, 1e30f}, {-7}}}, std::string(1, '\0')),
       DbcBytes()
           .Header(2, 2, 8, 1)
           .Float(-0.0f)
           .Int(7)
           .Float(1e30f)
           .Int(-7)
           .Raw(std::string(1, '\0'))
           .Str()},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string csv = dir / "t.csv";
    // An earlier output that starts with the same bytes is no copy of them.
    WriteFile(csv + ".dbc", c.expected + "and more");
    StringSink sink;
    EXPECT_TRUE(WriteDbc(c.table, csv, sink));
    EXPECT_EQ(sink.Text(), "DBC file created '" + csv + ".dbc'.\n");
    EXPECT_EQ(testing::Printable(ReadFile(csv + ".dbc")), testing::Printable(c.expected));
    EXPECT_EQ(ListNames(dir.Path()), "t.csv.dbc");
  }
}

TEST(DbcWriterTest, RecordsLargerThanTheBufferAreWhole) {
  // Enough records to pass the writer's buffer several times over, with an
  // odd record size so fields straddle buffer boundaries.
  using T = FieldType;
  std::vector<std::vector<Cell>> rows;
  DbcBytes expected;
  const int count = 300000;
  expected.Header(count, 2, 5, 1);
  for (int r = 0; r < count; ++r) {
    rows.push_back({{r}, {r & 0xFF}});
    expected.Int(r).Byte(static_cast<std::uint8_t>(r & 0xFF));
  }
  expected.Raw(std::string(1, '\0'));
  TempDir dir;
  StringSink sink;
  ASSERT_TRUE(
      WriteDbc(MakeTable({T::Int, T::Byte}, rows, std::string(1, '\0')), dir / "big.csv", sink));
  EXPECT_TRUE(ReadFile(dir / "big.csv.dbc") == expected.Str());
}

#ifndef _WIN32
// Built with symlink(2). Windows links need privileges a test run lacks, and
// Wine only pretends to create them.
TEST(DbcWriterTest, ReplacesASymbolicLinkInsteadOfWritingThroughIt) {
  TempDir dir;
  WriteFile(dir / "victim", "keep me");
  ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "items.csv.dbc").c_str()), 0);
  StringSink sink;
  ASSERT_TRUE(WriteDbc(ItemsTable(), dir / "items.csv", sink));
  EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "items.csv.dbc"));
  EXPECT_TRUE(ReadFile(dir / "items.csv.dbc") == ItemsBytes());
}

// Run again over an unchanged table, the output is compared, not written:
// the same file, made to look freshly written. A file that differs, even
// by one byte of the same size, and a link (even to the same bytes) are
// written anew.
TEST(DbcWriterTest, UnchangedOutputIsTouchedNotRewritten) {
  TempDir dir;
  const std::string out = dir / "items.csv.dbc";
  const std::string bytes = ItemsBytes();
  const auto writeAndStat = [&](struct stat& st) {
    StringSink sink;
    ASSERT_TRUE(WriteDbc(ItemsTable(), dir / "items.csv", sink));
    EXPECT_EQ(sink.Text(), "DBC file created '" + out + "'.\n");
    EXPECT_TRUE(ReadFile(out) == bytes);
    ASSERT_EQ(::lstat(out.c_str(), &st), 0);
  };
  const auto makeOld = [&] {
    const struct timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, out.c_str(), hourAgo, AT_SYMLINK_NOFOLLOW), 0);
  };
  struct stat first, second, third, fourth;
  writeAndStat(first);
  makeOld();
  writeAndStat(second);
  EXPECT_EQ(second.st_ino, first.st_ino);
  EXPECT_GE(second.st_mtime, ::time(nullptr) - 60);

  std::string changed = bytes;
  changed[25] ^= 1;
  WriteFile(out, changed);
  ASSERT_EQ(::lstat(out.c_str(), &first), 0);
  writeAndStat(third);
  EXPECT_NE(third.st_ino, first.st_ino);

  WriteFile(dir / "same", bytes);
  ASSERT_EQ(::unlink(out.c_str()), 0);
  ASSERT_EQ(::symlink((dir / "same").c_str(), out.c_str()), 0);
  writeAndStat(fourth);
  EXPECT_TRUE(S_ISREG(fourth.st_mode));
  EXPECT_TRUE(ReadFile(dir / "same") == bytes);
}
#endif  // _WIN32

#ifndef _WIN32
// POSIX permission bits; Windows access control lists are another matter.
TEST(DbcWriterTest, UnwritableDirectoryCannotBeCreated) {
  TempDir dir;
  std::filesystem::create_directory(dir / "ro");
  ::chmod(dir.Path().c_str(), 0755);
  ::chmod((dir / "ro").c_str(), 0555);
  const auto text = testing::RunInChild(
      [&] {
        StringSink sink;
        return WriteDbc(ItemsTable(), dir / "ro/items.csv", sink) ? "written\n" : sink.Text();
      },
      testing::UnprivilegedUser());
  EXPECT_EQ(text, "ERROR: '" + (dir / "ro/items.csv") + "': Can't create file.\n");
  EXPECT_EQ(ListNames(dir / "ro"), "");
}
#endif  // _WIN32

TEST(DbcWriterTest, MissingDirectoryCannotBeCreated) {
  TempDir dir;
  StringSink sink;
  EXPECT_FALSE(WriteDbc(ItemsTable(), dir / "nowhere/items.csv", sink));
  EXPECT_EQ(sink.Text(), "ERROR: '" + (dir / "nowhere/items.csv") + "': Can't create file.\n");
}

}  // namespace
}  // namespace dbcpack
