// The Windows side of the platform seam: UTF-8 paths in and out, the
// listing's entry kinds and identities, whole-file reads that refuse what is
// not a file, the replace beside the output, and paths past the classic
// 260-character limit.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/discovery.h"
#include "platform/platform.h"
#include "test_util.h"

namespace dbcpack::platform {
namespace {

namespace fs = std::filesystem;
using testing::Printable;
using testing::TempDir;

// "ünï" and "日本" in UTF-8.
constexpr std::string_view kUnicodeName = "\xC3\xBCn\xC3\xAF";
constexpr std::string_view kCjkName = "\xE6\x97\xA5\xE6\x9C\xAC";

fs::path Utf8Path(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void WriteUtf8File(const std::string& path, std::string_view contents) {
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

bool Read(const std::string& path, std::string& text) {
  FileContents contents;
  if (ReadWholeFile(path, contents) != ReadResult::Read) return false;
  text.assign(contents.View());
  return true;
}

// Names in a listing other than "." and "..", sorted, with their kinds.
std::vector<std::string> ListKinds(const std::string& path) {
  std::vector<std::string> names;
  DirectoryListing listing;
  if (!listing.Open(path)) return {"<cannot open>"};
  DirectoryEntry entry;
  while (listing.Next(entry)) {
    if (entry.name == "." || entry.name == "..") continue;
    const char* kind = entry.kind == EntryKind::Directory ? "/" : "";
    names.push_back(std::string(entry.name) + kind);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A directory path well past MAX_PATH, made of nested 50-character names,
// created through the "\\?\" form that has no length limit.
std::string MakeDeepDirectory(const std::string& root) {
  std::string path = root;
  std::wstring wide = L"\\\\?\\" + fs::path(root).make_preferred().wstring();
  for (int level = 0; level < 7; ++level) {
    const std::string name(50, static_cast<char>('a' + level));
    path += "/" + name;
    wide += L"\\" + std::wstring(name.begin(), name.end());
    EXPECT_TRUE(::CreateDirectoryW(wide.c_str(), nullptr)) << "level " << level;
  }
  return path;
}

TEST(WindowsPlatformTest, ReadWholeFileReturnsTheBytesUntranslated) {
  TempDir dir;
  // Carriage returns, a byte 26 and a NUL: what text mode would change.
  const std::string bytes(
      "a\r\nb\x1A"
      "c\0d\n",
      8);
  const std::string large(3 * 1024 * 1024 + 17, 'x');
  struct Case {
    std::string name;
    std::string contents;
  } cases[] = {{"plain.csv", bytes},
               {"empty.csv", ""},
               {"large.csv", large},
               {std::string(kUnicodeName) + ".csv", bytes}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.name));
    WriteUtf8File(dir / c.name, c.contents);
    std::string read = "stale";
    ASSERT_TRUE(Read(dir / c.name, read));
    EXPECT_TRUE(read == c.contents) << read.size() << " bytes";
  }
}

TEST(WindowsPlatformTest, ReadWholeFileRefusesWhatIsNoFile) {
  TempDir dir;
  fs::create_directory(Utf8Path(dir / "dir.csv"));
  // Device names open the device, whatever folder they are named in.
  for (const char* name : {"missing.csv", "dir.csv", "nul.csv", "NUL", "con.csv"}) {
    SCOPED_TRACE(name);
    std::string read;
    EXPECT_FALSE(Read(dir / name, read));
  }
}

TEST(WindowsPlatformTest, ListingGivesUtf8NamesAndKinds) {
  TempDir dir;
  fs::create_directory(Utf8Path(dir / std::string(kCjkName)));
  WriteUtf8File(dir / (std::string(kUnicodeName) + ".csv"), "x");
  WriteUtf8File(dir / "plain.txt", "x");
  fs::create_directory(Utf8Path(dir / "x.csv"));
  const std::vector<std::string> expected = {"plain.txt", "x.csv/", std::string(kCjkName) + "/",
                                             std::string(kUnicodeName) + ".csv"};
  std::vector<std::string> sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(ListKinds(dir.Path()), sorted);
  // A listing path may use "/" or "\" and a trailing "/.": the same folder.
  EXPECT_EQ(ListKinds(dir.Path() + "/."), sorted);
}

TEST(WindowsPlatformTest, ListingOpensOnlyDirectories) {
  TempDir dir;
  WriteUtf8File(dir / "file.csv", "x");
  for (const std::string& path : {dir / "file.csv", dir / "missing", dir / "file.csv/x"}) {
    SCOPED_TRACE(path);
    DirectoryListing listing;
    EXPECT_FALSE(listing.Open(path));
  }
  fs::create_directory(Utf8Path(dir / "empty"));
  EXPECT_EQ(ListKinds(dir / "empty"), std::vector<std::string>{});
}

TEST(WindowsPlatformTest, DirectoryIdentityFollowsTheFolderNotThePath) {
  TempDir dir;
  fs::create_directory(Utf8Path(dir / "a"));
  fs::create_directory(Utf8Path(dir / "b"));
  DirectoryListing a, aAgain, b;
  ASSERT_TRUE(a.Open(dir / "a"));
  ASSERT_TRUE(aAgain.Open(dir / "b/../a"));
  ASSERT_TRUE(b.Open(dir / "b"));
  EXPECT_TRUE(a.Id() == aAgain.Id());
  EXPECT_FALSE(a.Id() == b.Id());
}

TEST(WindowsPlatformTest, DiscoveryJoinsWithSlashesAndKeepsUtf8) {
  TempDir dir;
  const std::string sub = dir / std::string(kCjkName);
  fs::create_directory(Utf8Path(sub));
  WriteUtf8File(sub + "/" + std::string(kUnicodeName) + ".csv", "x");
  WriteUtf8File(sub + "/skip.CSV", "x");
  csvFiles.clear();
  CollectCsvFiles(dir.Path());
  EXPECT_EQ(csvFiles, std::vector<std::string>{sub + "/" + std::string(kUnicodeName) + ".csv"});
  csvFiles.clear();
}

TEST(WindowsPlatformTest, ReplacementFileWritesBesideTheOutputAndMovesOverIt) {
  TempDir dir;
  const std::string finalPath = dir / (std::string(kUnicodeName) + ".csv.dbc");
  WriteUtf8File(finalPath, "earlier output");
  {
    ReplacementFile file;
    ASSERT_TRUE(file.Create(finalPath));
    ASSERT_TRUE(file.Write("new\n", 4));
    // Until the commit, the new bytes are in a file of their own beside
    // the output, whose name cannot be taken for a table.
    std::vector<std::string> names = ListKinds(dir.Path());
    ASSERT_EQ(names.size(), 2u);
    const std::string temporary =
        names[0] == std::string(kUnicodeName) + ".csv.dbc" ? names[1] : names[0];
    EXPECT_EQ(temporary.rfind(std::string(kUnicodeName) + ".csv.dbc.tmp", 0), 0u)
        << Printable(temporary);
    EXPECT_NE(temporary.substr(temporary.size() - 4), ".csv");
    std::string read;
    ASSERT_TRUE(Read(finalPath, read));
    EXPECT_EQ(read, "earlier output");
    ASSERT_TRUE(file.Close());
    ASSERT_TRUE(file.Commit());
  }
  std::string read;
  ASSERT_TRUE(Read(finalPath, read));
  EXPECT_EQ(read, "new\n");
  EXPECT_EQ(ListKinds(dir.Path()),
            std::vector<std::string>{std::string(kUnicodeName) + ".csv.dbc"});
}

TEST(WindowsPlatformTest, ReplacementFileWithoutCommitLeavesTheOldOutputAlone) {
  TempDir dir;
  WriteUtf8File(dir / "t.csv.dbc", "earlier output");
  {
    ReplacementFile file;
    ASSERT_TRUE(file.Create(dir / "t.csv.dbc"));
    ASSERT_TRUE(file.Write("partial", 7));
  }
  {
    // Closed but never committed.
    ReplacementFile file;
    ASSERT_TRUE(file.Create(dir / "t.csv.dbc"));
    ASSERT_TRUE(file.Close());
  }
  std::string read;
  ASSERT_TRUE(Read(dir / "t.csv.dbc", read));
  EXPECT_EQ(read, "earlier output");
  EXPECT_EQ(ListKinds(dir.Path()), std::vector<std::string>{"t.csv.dbc"});
}

TEST(WindowsPlatformTest, ReplacementFileRefusesADirectoryAtTheFinalName) {
  TempDir dir;
  fs::create_directory(Utf8Path(dir / "t.csv.dbc"));
  ReplacementFile file;
  ASSERT_TRUE(file.Create(dir / "t.csv.dbc"));
  ASSERT_TRUE(file.Close());
  EXPECT_FALSE(file.Commit());
}

TEST(WindowsPlatformTest, PathsPastTheClassicLimitWork) {
  TempDir dir;
  const std::string deep = MakeDeepDirectory(dir.Path());
  ASSERT_GT(deep.size(), 300u);
  {
    ReplacementFile file;
    ASSERT_TRUE(file.Create(deep + "/t.csv"));
    ASSERT_TRUE(file.Write("int\n1\n", 6));
    ASSERT_TRUE(file.Close());
    ASSERT_TRUE(file.Commit());
  }
  std::string read;
  ASSERT_TRUE(Read(deep + "/t.csv", read));
  EXPECT_EQ(read, "int\n1\n");
  EXPECT_EQ(ListKinds(deep), std::vector<std::string>{"t.csv"});
  csvFiles.clear();
  CollectCsvFiles(dir.Path());
  EXPECT_EQ(csvFiles, std::vector<std::string>{deep + "/t.csv"});
  csvFiles.clear();

  // TempDir's clean-up goes through the standard library, which stops at
  // the limit; the deep part goes here.
  std::wstring wide = L"\\\\?\\" + fs::path(deep).make_preferred().wstring();
  ::DeleteFileW((wide + L"\\t.csv").c_str());
  while (wide.size() > 4 + fs::path(dir.Path()).make_preferred().wstring().size()) {
    ::RemoveDirectoryW(wide.c_str());
    wide.resize(wide.rfind(L'\\'));
  }
}

}  // namespace
}  // namespace dbcpack::platform
