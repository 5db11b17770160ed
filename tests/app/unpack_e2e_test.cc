// The dbcunpack binary end to end, as a user meets it: refused command
// lines, a folder walked with the packer's outputs left out, a CSV file that
// holds edits kept until --force is given, bad files next to a good one, the
// exact messages and exit statuses, and the packer turning the written text
// back into the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/run_dbcpack.h"
#include "test_util.h"

namespace dbcpack {
namespace {

namespace fs = std::filesystem;
using testing::DbcBytes;
using testing::ReadFile;
using testing::RunDbcunpack;
using testing::TempDir;
using testing::WriteFile;

const std::string kUsage =
    "Usage: dbcunpack [--types LIST] [--force] PATH...\n"
    "Writes FILE.csv beside each DBC FILE given, or found in a folder given.\n"
    "Give --help for the options and the workflow.\n";

std::string Unpacked(const std::string& dbc, const std::string& guess) {
  return "Loading file '" + dbc + "'.\n" + "Field types of '" + dbc +
         "' (guessed; give --types to correct them): " + guess + "\n" + "CSV file created '" + dbc +
         ".csv'.\nRound trip exact.\n";
}

std::string Refused(const std::string& dbc) {
  return "ERROR: '" + dbc + "': File '" + dbc +
         ".csv' already exists; give --force to replace it.\n";
}

// Runs dbcunpack and checks its status, that nothing went to standard
// error, and that the output starts with `expected`; returns the rest.
std::string Unpack(const TempDir& dir, const std::vector<std::string>& arguments, int status,
                   const std::string& expected) {
  const testing::RunResult run = RunDbcunpack(dir.Path(), arguments);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, status) << run.output;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output.substr(0, expected.size()), expected);
  return run.output.size() > expected.size() ? run.output.substr(expected.size()) : "";
}

TEST(UnpackEndToEndTest, UnpacksAFolderKeepsEditsAndPacksBackToTheSameBytes) {
  TempDir dir;
  fs::create_directories(dir / "data/sub");
  // Unambiguous to a guess: ints far past the string block, offsets at the
  // starts of its strings, floats whose bits are no plausible int.
  DbcBytes bytes;
  bytes.Header(2, 3, 12, 7).Int(100000).Int(1).Float(2.5f).Int(200000).Int(0).Float(-1.0f);
  const std::string spell = bytes.Raw(std::string("\0Sword\0", 7)).Str();
  WriteFile(dir / "data/sub/Spell.dbc", spell);
  // The packer's output beside its source, and the user's edits.
  WriteFile(dir / "data/items.csv", testing::kGoodTable);
  WriteFile(dir / "data/items.csv.dbc", spell);
  WriteFile(dir / "data/sub/Spell.dbc.csv", "edited\n");
  WriteFile(dir / "broken.dbc", std::string("WDBC\x01\0\0\0", 8));
  WriteFile(dir / "empty.dbc", DbcBytes().Header(0, 1, 4, 1).Raw(std::string(1, '\0')).Str());

  // Bad command lines: the usage, status 2, nothing written.
  Unpack(dir, {}, 2, kUsage);
  Unpack(dir, {"--types", "int,flt", "data"}, 2,
         "ERROR: --types: Unknown field type 'flt' (int, float, byte or string).\n" + kUsage);
  Unpack(dir, {"data", "--frob"}, 2, "ERROR: Unknown option '--frob'.\n" + kUsage);
  EXPECT_EQ(ReadFile(dir / "data/sub/Spell.dbc.csv"), "edited\n");

  // The edits are kept; a missing path and a bad file fail; status 1.
  EXPECT_EQ(Unpack(dir, {"data", "missing.dbc", "broken.dbc"}, 1,
                   Refused("data/sub/Spell.dbc") +
                       "ERROR: 'missing.dbc': No such file or folder.\n"
                       "Loading file 'broken.dbc'.\n"
                       "ERROR: 'broken.dbc': File is shorter than a DBC header ('8' of '20' "
                       "bytes).\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "data/sub/Spell.dbc.csv"), "edited\n");
  EXPECT_FALSE(testing::Exists(dir / "broken.dbc.csv"));

  // Replaced with --force (the trailing "/" names the same folder).
  EXPECT_EQ(
      Unpack(dir, {"--force", "data/"}, 0, Unpacked("data/sub/Spell.dbc", "int,string,float")), "");
  EXPECT_NE(ReadFile(dir / "data/sub/Spell.dbc.csv"), "edited\n");

  // The packer reads the text back into the very same bytes, and its new
  // output is left out of the next walk like the old one.
  const testing::RunResult pack = testing::RunDbcpack(dir / "data");
  EXPECT_NE(pack.output.find(testing::ConvertedMessages("./sub/Spell.dbc.csv")), std::string::npos)
      << pack.output;
  EXPECT_EQ(testing::Printable(ReadFile(dir / "data/sub/Spell.dbc.csv.dbc")),
            testing::Printable(spell));
  EXPECT_EQ(Unpack(dir, {"data"}, 1, Refused("data/sub/Spell.dbc")), "");

  // Types given, so none guessed; a table without records still gives its
  // line of types, with a warning for each thing the packer would refuse.
  EXPECT_EQ(Unpack(dir, {"--types=int", "--", "empty.dbc"}, 0,
                   "Loading file 'empty.dbc'.\n"
                   "WARNING: 'empty.dbc': Table has no records; dbcpack refuses a table without "
                   "records.\n"
                   "CSV file created 'empty.dbc.csv'.\n"
                   "WARNING: 'empty.dbc': Round trip not exact: dbcpack refuses the CSV text: No "
                   "records found.\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "empty.dbc.csv"), "int\n");
  // Types that do not fit the file fail it.
  EXPECT_EQ(Unpack(dir, {"--types", "int,int", "--force", "empty.dbc"}, 1,
                   "Loading file 'empty.dbc'.\n"
                   "ERROR: 'empty.dbc': The types give '2' fields and '8'-byte records; the "
                   "file has '1' fields and '4'-byte records.\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "empty.dbc.csv"), "int\n");
}

}  // namespace
}  // namespace dbcpack
