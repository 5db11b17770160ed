// End-to-end runs of the dbcpack binary over scratch trees: which files are
// found, what is printed, what is written, and that nothing hangs.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/discovery.h"
#include "app/run_dbcpack.h"
#include "test_util.h"

namespace dbcpack {
namespace {

namespace fs = std::filesystem;
using testing::DbcBytes;
using testing::ReadFile;
using testing::RunDbcpack;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kGood = testing::kGoodTable;

std::string Converted(const std::string& path) { return testing::ConvertedMessages(path); }

// The banner: an empty line, then three lines; the last names the version.
void ExpectEndsWithBanner(const std::string& output) {
  const std::size_t start = output.rfind("\n\n");
  ASSERT_NE(start, std::string::npos) << output;
  const std::string banner = output.substr(start + 1);
  EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 4) << banner;
  EXPECT_NE(banner.find("dbcpack"), std::string::npos) << banner;
  EXPECT_NE(banner.find("CSV files to DBC files"), std::string::npos) << banner;
  EXPECT_NE(banner.find("Version 1.0.0"), std::string::npos) << banner;
}

std::vector<std::string> Collect(const std::string& root) {
  csvFiles.clear();
  CollectCsvFiles(root);
  std::vector<std::string> found = csvFiles;
  csvFiles.clear();
  return found;
}

std::vector<std::string> Sorted(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(DiscoveryTest, TakesExactlyThePathsEndingInDotCsv) {
  TempDir dir;
  const std::string r = dir.Path();
  for (const char* name :
       {"a.csv", "A.CSV", "b.Csv", ".csv", "a.tar.csv", "a.csv.bak", "a.csv.dbc", "csv", "acsv"}) {
    WriteFile(dir / name, kGood);
  }
  fs::create_directories(r + "/x.csv/deeper");
  WriteFile(dir / "x.csv/deeper/in.csv", kGood);
  fs::create_directories(r + "/old.data");
  WriteFile(dir / "old.data/notes", kGood);
  EXPECT_EQ(Sorted(Collect(r)),
            Sorted({r + "/.csv", r + "/a.csv", r + "/a.tar.csv", r + "/x.csv/deeper/in.csv"}));
}

// Each program takes its own ending whole: not an editor's backup
// (items.csv~) nor a longer ending (t.csvx) beside the tables. dbcpack's
// ".csv" must match in case; dbcunpack's ".dbc" may come in any case.
TEST(DiscoveryTest, TakesTheWholeEndingAndNoLookAlike) {
  TempDir dir;
  const std::string r = dir.Path();
  for (const char* name : {"items.csv", "items.csv~", "t.csvx", "A.CSV", "items.dbc", "items.dbc~",
                           "t.dbcx", "EFFECTS.DBC", "b.Dbc"}) {
    WriteFile(dir / name, kGood);
  }
  struct Case {
    std::string_view extension;
    ExtensionCase extensionCase;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {".csv", ExtensionCase::Exact, {r + "/items.csv"}},
      {".dbc", ExtensionCase::Any, {r + "/EFFECTS.DBC", r + "/b.Dbc", r + "/items.dbc"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> found;
    CollectFiles(r, c.extension, found, nullptr, c.extensionCase);
    EXPECT_EQ(Sorted(found), c.expected) << c.extension;
  }
}

TEST(DiscoveryTest, ListsASubdirectorysTablesWhereItIsMet) {
  TempDir dir;
  const std::string r = dir.Path();
  fs::create_directories(r + "/m/n");
  WriteFile(dir / "m/n/1.csv", kGood);
  WriteFile(dir / "m/2.csv", kGood);
  WriteFile(dir / "m/n/3.csv", kGood);
  WriteFile(dir / "top.csv", kGood);
  const std::vector<std::string> found = Collect(r);
  ASSERT_EQ(found.size(), 4u);
  // Depth first: the two files of m/n are next to each other, and all of m
  // comes before or after top.csv as a block.
  const auto at = [&](const std::string& p) {
    return std::find(found.begin(), found.end(), r + p) - found.begin();
  };
  EXPECT_EQ(std::abs(at("/m/n/1.csv") - at("/m/n/3.csv")), 1);
  EXPECT_TRUE(at("/top.csv") == 0 || at("/top.csv") == 3);
}

TEST(DiscoveryTest, NeverFollowsDirectoryLinks) {
  TempDir dir;
  const std::string r = dir.Path();
  fs::create_directories(r + "/a/b");
  WriteFile(dir / "a/b/t.csv", kGood);
  fs::create_directory_symlink("..", r + "/a/b/up");
  fs::create_directory_symlink(".", r + "/self");
  fs::create_directory_symlink(r + "/a", r + "/alias.csv");
  // A link is not walked into; one whose name ends in .csv is taken as a
  // file and refused when opened.
  EXPECT_EQ(Sorted(Collect(r)), Sorted({r + "/a/b/t.csv", r + "/alias.csv"}));
}

TEST(DiscoveryTest, UnreadableDirectoryIsSkippedSilently) {
  TempDir dir;
  fs::create_directory(dir / "locked");
  WriteFile(dir / "locked/t.csv", kGood);
  WriteFile(dir / "open.csv", kGood);
  ::chmod(dir.Path().c_str(), 0755);
  ::chmod((dir / "locked").c_str(), 0);
  const auto found = testing::RunInChild(
      [&] {
        std::string names;
        for (const std::string& path : Collect(dir.Path())) names += path + "\n";
        return names;
      },
      testing::UnprivilegedUser());
  EXPECT_EQ(found, dir / "open.csv\n");
}

TEST(BatchTest, TreeWithoutTablesPrintsTheMessageThenTheBanner) {
  TempDir dir;
  fs::create_directory(dir / "empty");
  WriteFile(dir / "notes.txt", "int\n1\n");
  const auto run = RunDbcpack(dir.Path());
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(run.errors.empty()) << run.errors;
  EXPECT_EQ(run.output.rfind("No CSV files found in current directory.\n\n", 0), 0u) << run.output;
  ExpectEndsWithBanner(run.output);
}

TEST(BatchTest, MalformedFileIsReportedAndTheNextOneConverted) {
  TempDir dir;
  fs::create_directories(dir / "one");
  fs::create_directories(dir / "two");
  WriteFile(dir / "one/bad.csv", "int,int\n1\n");
  WriteFile(dir / "two/good.csv", kGood);
  const auto run = RunDbcpack(dir.Path());
  EXPECT_EQ(run.exitStatus, 0);
  const std::string bad =
      "Loading file './one/bad.csv'.\n"
      "ERROR: './one/bad.csv': Expected '2' fields not '1' at line '2'.\n";
  const std::string good = Converted("./two/good.csv");
  const bool badFirst = run.output.rfind(bad + good, 0) == 0;
  const bool goodFirst = run.output.rfind(good + bad, 0) == 0;
  EXPECT_TRUE(badFirst || goodFirst) << run.output;
  ExpectEndsWithBanner(run.output);
  EXPECT_FALSE(testing::Exists(dir / "one/bad.csv.dbc"));
  EXPECT_EQ(ReadFile(dir / "two/good.csv.dbc"),
            DbcBytes().Header(1, 2, 8, 3).Int(1).Int(1).Raw(std::string("\0a\0", 3)).Str());
}

TEST(BatchTest, ExitStatusIsZeroWhenEveryFileFails) {
  TempDir dir;
  WriteFile(dir / "empty.csv", "");
  const auto run = RunDbcpack(dir.Path());
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output.rfind("Loading file './empty.csv'.\nERROR: './empty.csv': First line must "
                             "contain field types (int,float,byte,string).\n\n",
                             0),
            0u)
      << run.output;
}

TEST(BatchTest, SecondRunConvertsTheSameInputsAgain) {
  TempDir dir;
  WriteFile(dir / "t.csv", kGood);
  const auto first = RunDbcpack(dir.Path());
  const std::string output = ReadFile(dir / "t.csv.dbc");
  const auto second = RunDbcpack(dir.Path());
  EXPECT_EQ(first.output, second.output);
  EXPECT_EQ(second.output.rfind(Converted("./t.csv") + "\n", 0), 0u) << second.output;
  EXPECT_EQ(ReadFile(dir / "t.csv.dbc"), output);
  EXPECT_EQ(testing::ListNames(dir.Path()), "t.csv t.csv.dbc");
}

TEST(BatchTest, BindMountCycleIsWalkedOnce) {
  // A directory mounted inside itself has no link to tell the walk; only its
  // identity (device and inode) shows it is already being walked.
  TempDir dir;
  fs::create_directory(dir / "loop");
  WriteFile(dir / "t.csv", kGood);
  if (::mount(dir.Path().c_str(), (dir / "loop").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "bind mounts need privileges this run does not have";
  }
  const auto run = RunDbcpack(dir.Path(), 20);
  ::umount2((dir / "loop").c_str(), MNT_DETACH);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.output.rfind(Converted("./t.csv") + "\n", 0), 0u) << run.output.substr(0, 2000);
}

}  // namespace
}  // namespace dbcpack
