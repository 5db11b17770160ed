// The dbctidy binary end to end: refused command lines, a folder walked in
// the order of its paths, a table saved by a spreadsheet replaced by its tidy
// text, a tidy one and a refused one left as they were (and no temporary
// file beside them), the exit statuses, and the packer taking the result.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/run_dbcpack.h"
#include "test_util.h"

namespace dbcpack {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kUsage =
    "Usage: dbctidy PATH...\n"
    "Rewrites each CSV FILE given, or found in a folder given, as saved by a\n"
    "spreadsheet, into the dialect dbcpack reads. Give --help for more.\n";

TEST(TidyEndToEndTest, TidiesAFolderInPlaceAndLeavesRefusedFilesAlone) {
  TempDir dir;
  fs::create_directories(dir / "data/sub");
  const std::string saved = "\"int\",\"string\"\r\n1,\"Sword\"\r\n2,200\r\n";
  const std::string tidy = "int,string\n1,\"Sword\"\n2,\"200\"\n";
  const std::string bad = "int,float\n1,12abc\n";
  WriteFile(dir / "data/sub/items.dbc.csv", saved);
  WriteFile(dir / "data/b.csv", tidy);
  WriteFile(dir / "data/sub/bad.csv", bad);
  WriteFile(dir / "data/notes.txt", saved);

  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{}, {"data", "--frob"}}) {
    const testing::RunResult refused = testing::RunDbctidy(dir.Path(), arguments);
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_EQ(refused.output, "");
    EXPECT_EQ(refused.errors,
              (arguments.empty() ? "" : "ERROR: Unknown option '--frob'.\n") + kUsage);
  }
  EXPECT_EQ(ReadFile(dir / "data/sub/items.dbc.csv"), saved);

  const testing::RunResult run = testing::RunDbctidy(dir.Path(), {"data/", "missing.csv"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output,
            "Already tidy 'data/b.csv'.\n"
            "ERROR: 'data/sub/bad.csv': Line '2': Column '2': '12abc' is not a float in full: "
            "dbcpack would read it as 12.\n"
            "Tidied 'data/sub/items.dbc.csv': first line mended, '1' string cell quoted, line "
            "ends made LF.\n"
            "ERROR: Can't open file 'missing.csv': No such file or directory.\n"
            "Tidied '4' files: '2' tidy, '0' with warnings, '2' failed.\n"
            "Failed: 'data/sub/bad.csv'\n"
            "Failed: 'missing.csv'\n");
  EXPECT_EQ(ReadFile(dir / "data/sub/items.dbc.csv"), tidy);
  EXPECT_EQ(ReadFile(dir / "data/sub/bad.csv"), bad);
  EXPECT_EQ(testing::ListNames(dir / "data/sub"), "bad.csv items.dbc.csv");

  fs::remove(dir / "data/sub/bad.csv");
  const testing::RunResult again = testing::RunDbctidy(dir.Path(), {"data"});
  EXPECT_EQ(again.exitStatus, 0);
  EXPECT_EQ(again.output,
            "Already tidy 'data/b.csv'.\nAlready tidy 'data/sub/items.dbc.csv'.\n"
            "Tidied '2' files: '2' tidy, '0' with warnings, '0' failed.\n");
  const testing::RunResult pack = testing::RunDbcpack(dir / "data/sub");
  EXPECT_NE(pack.output.find(testing::ConvertedMessages("./items.dbc.csv")), std::string::npos)
      << pack.output;
}

}  // namespace
}  // namespace dbcpack
