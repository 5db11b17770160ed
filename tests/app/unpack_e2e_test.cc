// The dbcunpack binary end to end, as a user meets it: refused command
// lines, a folder walked with the packer's outputs left out, a CSV file that
// holds edits kept until --force is given, bad files next to a good one,
// folders it may not read, the exact messages and exit statuses, and the
// packer turning the written text back into the same bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
    "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
    "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
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

// The system's words for an errno value, as a message ends with them.
std::string Reason(int error) { return std::string(std::strerror(error)) + ".\n"; }

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

// A refused command line: status 2, `expected` (the error and the usage) on
// standard error alone, where a script that keeps the output does not get it.
void Refuse(const TempDir& dir, const std::vector<std::string>& arguments,
            const std::string& expected) {
  const testing::RunResult run = RunDbcunpack(dir.Path(), arguments);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.errors, expected);
}

TEST(UnpackEndToEndTest, UnpacksAFolderKeepsEditsAndPacksBackToTheSameBytes) {
  TempDir dir;
  fs::create_directories(dir / "data/sub");
  // Unambiguous to a guess: ints far past the string block, offsets at the
  // starts of its strings, floats whose bits are no plausible int.
  DbcBytes bytes;
  bytes.Header(2, 3, 12, 7).Int(100000).Int(1).Float(2.5f).Int(200000).Int(0).Float(-1.0f);
  const std::string weapons = bytes.Raw(std::string("\0Sword\0", 7)).Str();
  WriteFile(dir / "data/sub/weapons.dbc", weapons);
  // The packer's output beside its source, and the user's edits.
  WriteFile(dir / "data/items.csv", testing::kGoodTable);
  WriteFile(dir / "data/items.csv.dbc", weapons);
  WriteFile(dir / "data/sub/weapons.dbc.csv", "edited\n");
  WriteFile(dir / "broken.dbc", std::string("WDBC\x01\0\0\0", 8));
  WriteFile(dir / "empty.dbc", DbcBytes().Header(0, 1, 4, 1).Raw(std::string(1, '\0')).Str());

  // Bad command lines: the error and the usage on standard error, status 2,
  // nothing written; asked for, the help goes to standard output.
  Refuse(dir, {}, kUsage);
  Refuse(dir, {"--types", "int,flt", "data"},
         "ERROR: --types: Unknown field type 'flt' (int, float, byte or string).\n" + kUsage);
  Refuse(dir, {"data", "--frob"}, "ERROR: Unknown option '--frob'.\n" + kUsage);
  Unpack(dir, {"--help", "data"}, 0, kUsage.substr(0, kUsage.find('\n') + 1));
  EXPECT_EQ(ReadFile(dir / "data/sub/weapons.dbc.csv"), "edited\n");

  // The edits are kept; a missing path and a bad file fail; status 1.
  EXPECT_EQ(Unpack(dir, {"data", "missing.dbc", "broken.dbc"}, 1,
                   Refused("data/sub/weapons.dbc") +
                       "ERROR: Can't open file 'missing.dbc': " + Reason(ENOENT) +
                       "Loading file 'broken.dbc'.\n"
                       "ERROR: 'broken.dbc': File is shorter than a DBC header ('8' of '20' "
                       "bytes).\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "data/sub/weapons.dbc.csv"), "edited\n");
  EXPECT_FALSE(testing::Exists(dir / "broken.dbc.csv"));

  // Replaced with --force (the trailing "/" names the same folder).
  EXPECT_EQ(
      Unpack(dir, {"--force", "data/"}, 0, Unpacked("data/sub/weapons.dbc", "int,string,float")),
      "");
  EXPECT_NE(ReadFile(dir / "data/sub/weapons.dbc.csv"), "edited\n");

  // The packer reads the text back into the very same bytes, and its new
  // output is left out of the next walk like the old one.
  const testing::RunResult pack = testing::RunDbcpack(dir / "data");
  EXPECT_NE(pack.output.find(testing::ConvertedMessages("./sub/weapons.dbc.csv")),
            std::string::npos)
      << pack.output;
  EXPECT_EQ(testing::Printable(ReadFile(dir / "data/sub/weapons.dbc.csv.dbc")),
            testing::Printable(weapons));
  EXPECT_EQ(Unpack(dir, {"data"}, 1, Refused("data/sub/weapons.dbc")), "");

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

  // A CSV file that cannot be made is named, with the system's reason.
  fs::remove(dir / "empty.dbc.csv");
  fs::create_directory(dir / "empty.dbc.csv");
  EXPECT_EQ(Unpack(dir, {"--types=int", "--force", "empty.dbc"}, 1,
                   "Loading file 'empty.dbc'.\n"
                   "WARNING: 'empty.dbc': Table has no records; dbcpack refuses a table without "
                   "records.\n"
                   "ERROR: 'empty.dbc': Can't create file 'empty.dbc.csv': " +
                       Reason(EISDIR)),
            "");
}

// An unsure guess in a layouts text comes with its other reading, a whole
// line commented out: moving one '#' switches to it, and the table so
// typed packs back into the same bytes.
TEST(UnpackEndToEndTest, TheOtherReadingIsOneHashAway) {
  TempDir dir;
  fs::create_directories(dir / "data");
  // A key and a time stamp, whose bits read as a float of many digits.
  const std::string stamps =
      DbcBytes().Header(1, 2, 8, 1).Int(100000).Int(1234567890).Raw({"\0", 1}).Str();
  WriteFile(dir / "data/stamps.dbc", stamps);
  const testing::RunResult run = RunDbcunpack(dir.Path(), {"--print-layouts", "data"});
  const std::string guessed = "stamps.dbc int,float\n";
  const std::string other = "stamps.dbc int,int\n";
  ASSERT_EQ(
      run.output,
      "# data/stamps.dbc: Guessed types uncertain: field '2' may be int rather than float.\n" +
          guessed + "# " + other);

  std::string layouts = run.output;
  layouts.replace(layouts.find(guessed), guessed.size() + 2, "# " + guessed);
  WriteFile(dir / "layouts.txt", layouts);
  EXPECT_EQ(Unpack(dir, {"--layouts", "layouts.txt", "data"}, 0,
                   "Loading file 'data/stamps.dbc'.\n"
                   "Field types of 'data/stamps.dbc' (from 'layouts.txt' line '3'): int,int\n"
                   "CSV file created 'data/stamps.dbc.csv'.\nRound trip exact.\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "data/stamps.dbc.csv"), "int,int\n100000,1234567890\n");
  testing::RunDbcpack(dir / "data");
  EXPECT_EQ(testing::Printable(ReadFile(dir / "data/stamps.dbc.csv.dbc")),
            testing::Printable(stamps));
}

// Folders it may not read are errors, named with the reason, and the run
// fails; what can be read is still unpacked.
TEST(UnpackEndToEndTest, FoldersThatCannotBeReadAreErrors) {
  // Root reads any folder, so as root dbcunpack runs as "nobody" (65534).
  const bool root = ::geteuid() == 0;
  TempDir dir;
  const std::string table = DbcBytes().Header(1, 1, 4, 1).Int(100000).Raw({"\0", 1}).Str();
  fs::create_directories(dir / "data/locked");
  fs::create_directory(dir / "closed");
  fs::create_directory(dir / "readonly");
  for (const char* path : {"data/t.dbc", "data/locked/t.dbc", "closed/t.dbc", "readonly/t.dbc"}) {
    WriteFile(dir / path, table);
  }
  for (const char* path : {"", "data"}) fs::permissions(dir / path, fs::perms::all);
  ASSERT_EQ(::chmod((dir / "data/locked").c_str(), 0), 0);
  ASSERT_EQ(::chmod((dir / "closed").c_str(), 0), 0);
  ASSERT_EQ(::chmod((dir / "readonly").c_str(), 0555), 0);

  const testing::RunResult run =
      RunDbcunpack(dir.Path(), {"data", "closed", "readonly"}, 60, {.userId = root ? 65534 : -1});
  for (const char* path : {"data/locked", "closed"}) ::chmod((dir / path).c_str(), 0755);
  if (root && run.exitStatus == 127 && run.output.empty()) {
    GTEST_SKIP() << "the unprivileged user cannot reach " << testing::DbcunpackBinary();
  }
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output,
            "ERROR: Can't open folder 'data/locked': " + Reason(EACCES) +
                Unpacked("data/t.dbc", "int") + "ERROR: Can't open folder 'closed': " +
                Reason(EACCES) + "Loading file 'readonly/t.dbc'.\n" +
                "Field types of 'readonly/t.dbc' (guessed; give --types to correct them): int\n"
                "ERROR: 'readonly/t.dbc': Can't create file 'readonly/t.dbc.csv': " +
                Reason(EACCES));
}

// The types of a folder given once: printed as a layouts file, a doubt as a
// comment, corrected, and read back for every file of that name.
TEST(UnpackEndToEndTest, LayoutsArePrintedEditedAndGivenOnce) {
  TempDir dir;
  fs::create_directories(dir / "data");
  const std::string items = DbcBytes()
                                .Header(2, 3, 12, 7)
                                .Int(100000)
                                .Int(1)
                                .Float(2.5f)
                                .Int(200000)
                                .Int(0)
                                .Float(-1.0f)
                                .Raw(std::string("\0Sword\0", 7))
                                .Str();
  WriteFile(dir / "data/items.dbc", items);
  // A large int reads as a computed float as well.
  WriteFile(dir / "data/Stamps.dbc",
            DbcBytes().Header(1, 2, 8, 1).Int(100000).Int(1234567890).Raw({"\0", 1}).Str());
  const std::vector<std::string> files = {"data/items.dbc", "data/Stamps.dbc"};

  std::vector<std::string> arguments = {"--print-layouts"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  testing::RunResult run = RunDbcunpack(dir.Path(), arguments);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output,
            "items.dbc int,string,float\n"
            "# data/Stamps.dbc: Guessed types uncertain: field '2' may be int rather than float.\n"
            "Stamps.dbc int,float\n"
            "# Stamps.dbc int,int\n");
  EXPECT_FALSE(testing::Exists(dir / "data/items.dbc.csv"));

  // Corrected in another case, with a comment: every file of that name
  // takes the line, the others are guessed.
  WriteFile(dir / "layouts.txt", "# checked\nSTAMPS.DBC int,float\n");
  arguments = {"--layouts", "layouts.txt"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  EXPECT_EQ(Unpack(dir, arguments, 0,
                   "Loading file 'data/items.dbc'.\n"
                   "Field types of 'data/items.dbc' (guessed; not named in 'layouts.txt'): "
                   "int,string,float\n"
                   "CSV file created 'data/items.dbc.csv'.\nRound trip exact.\n"
                   "Loading file 'data/Stamps.dbc'.\n"
                   "Field types of 'data/Stamps.dbc' (from 'layouts.txt' line '2'): int,float\n"
                   "CSV file created 'data/Stamps.dbc.csv'.\nRound trip exact.\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "data/Stamps.dbc.csv"), "int,float\n100000,1228890.2\n");

  // A malformed line stops the run before any file is touched; so do
  // types given both ways.
  WriteFile(dir / "bad.txt", "items.dbc int,string,float\n\nSTAMPS.DBC int,flaot\n");
  const testing::RunResult bad = RunDbcunpack(dir.Path(), {"--layouts=bad.txt", "--force", "data"});
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_EQ(bad.output, "");
  EXPECT_EQ(bad.errors,
            "ERROR: 'bad.txt': Line '3': Unknown field type 'flaot' (int, float, byte or "
            "string).\n");
  Refuse(dir, {"--layouts", "layouts.txt", "--types", "int,int", "data"},
         "ERROR: Give either '--types' or '--layouts', not both.\n" + kUsage);
  // Types from the layouts that do not fit a file fail it, with both counts.
  WriteFile(dir / "short.txt", "items.dbc int,string\n");
  EXPECT_EQ(Unpack(dir, {"--force", "--layouts", "short.txt", "data/items.dbc"}, 1,
                   "Loading file 'data/items.dbc'.\n"
                   "ERROR: 'data/items.dbc': The types of 'short.txt' line '1' give '2' fields "
                   "and '8'-byte records; the file has '3' fields and '12'-byte records.\n"),
            "");
}

}  // namespace
}  // namespace dbcpack
