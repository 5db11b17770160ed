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
using testing::Printable;
using testing::ReadFile;
using testing::RunDbcunpack;
using testing::TempDir;
using testing::WriteFile;

const std::string kUsage =
    "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
    "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
    "       dbcunpack --update-layouts FILE PATH...\n"
    "Writes FILE.csv beside each DBC FILE given, or found in a folder given.\n"
    "Give --help for the options and the workflow.\n";

// A table whose types a guess settles: ints far past the string block,
// offsets at the starts of its strings, floats whose bits are no plausible
// int (int,string,float).
std::string ItemsTable() {
  return DbcBytes()
      .Header(2, 3, 12, 7)
      .Int(100000)
      .Int(1)
      .Float(2.5f)
      .Int(200000)
      .Int(0)
      .Float(-1.0f)
      .Raw(std::string("\0Sword\0", 7))
      .Str();
}

// One int far past its one-byte string block: guessed int.
std::string IntTable() { return DbcBytes().Header(1, 1, 4, 1).Int(100000).Raw({"\0", 1}).Str(); }

// The messages of a file unpacked with its types guessed; one found in a
// folder is one of many, for which a layouts file is the advice.
std::string Unpacked(const std::string& dbc, const std::string& guess, bool inFolder = false) {
  return "Loading file '" + dbc + "'.\nField types of '" + dbc + "' (guessed; give " +
         (inFolder ? "a layouts file" : "--types") + " to correct them): " + guess +
         "\nCSV file created '" + dbc + ".csv'.\nRound trip exact for '" + dbc + "'.\n";
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

TEST(UnpackEndToEndTest, UnpacksAFolderKeepsEditsAndPacksBackToTheSameBytes) {
  TempDir dir;
  fs::create_directories(dir / "data/sub");
  const std::string weapons = ItemsTable();
  WriteFile(dir / "data/sub/weapons.dbc", weapons);
  // The packer's output beside its source, and the user's edits.
  WriteFile(dir / "data/items.csv", testing::kGoodTable);
  WriteFile(dir / "data/items.csv.dbc", weapons);
  WriteFile(dir / "data/sub/weapons.dbc.csv", "edited\n");
  WriteFile(dir / "broken.dbc", std::string("WDBC\x01\0\0\0", 8));
  WriteFile(dir / "empty.dbc", DbcBytes().Header(0, 1, 4, 1).Raw(std::string(1, '\0')).Str());

  // Asked for, the help goes to standard output.
  Unpack(dir, {"--help", "data"}, 0, kUsage.substr(0, kUsage.find('\n') + 1));
  EXPECT_EQ(ReadFile(dir / "data/sub/weapons.dbc.csv"), "edited\n");

  // The edits are kept; a missing path and a bad file fail; status 1.
  EXPECT_EQ(Unpack(dir, {"data", "missing.dbc", "broken.dbc"}, 1,
                   Refused("data/sub/weapons.dbc") +
                       "ERROR: Can't open file 'missing.dbc': " + Reason(ENOENT) +
                       "Loading file 'broken.dbc'.\n"
                       "ERROR: 'broken.dbc': File is shorter than a DBC header ('8' of '20' "
                       "bytes).\n"
                       "Unpacked '3' files: '0' round trips exact, '0' not exact, '3' failed.\n"
                       "Failed: 'data/sub/weapons.dbc'\nFailed: 'missing.dbc'\n"
                       "Failed: 'broken.dbc'\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "data/sub/weapons.dbc.csv"), "edited\n");
  EXPECT_FALSE(testing::Exists(dir / "broken.dbc.csv"));

  // Replaced with --force (the trailing "/" names the same folder).
  EXPECT_EQ(Unpack(dir, {"--force", "data/"}, 0,
                   Unpacked("data/sub/weapons.dbc", "int,string,float", true)),
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
                   "file has '1' field and '4'-byte records.\n"),
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

// Folders it may not read are errors, named with the reason, and the run
// fails; what can be read is still unpacked.
TEST(UnpackEndToEndTest, FoldersThatCannotBeReadAreErrors) {
  TempDir dir;
  const std::string table = IntTable();
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

  const testing::RunResult run = RunDbcunpack(dir.Path(), {"data", "closed", "readonly"}, 60,
                                              {.userId = testing::UnprivilegedUser()});
  for (const char* path : {"data/locked", "closed"}) ::chmod((dir / path).c_str(), 0755);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output,
            "ERROR: Can't open folder 'data/locked': " + Reason(EACCES) +
                Unpacked("data/t.dbc", "int", true) + "ERROR: Can't open folder 'closed': " +
                Reason(EACCES) + "Loading file 'readonly/t.dbc'.\n" +
                "Field types of 'readonly/t.dbc' (guessed; give a layouts file to correct them): "
                "int\nERROR: 'readonly/t.dbc': Can't create file 'readonly/t.dbc.csv': " +
                Reason(EACCES) +
                "Unpacked '2' files: '1' round trip exact, '0' not exact, '1' failed; '2' "
                "folders could not be read.\nFailed: 'readonly/t.dbc'\n"
                "Folder not read: 'data/locked'\nFolder not read: 'closed'\n");
}

// The types of a folder given once: printed as a layouts file, a doubt as a
// comment and the other reading as a line commented out, switched to by
// moving one '#', read back for every file of that name in any case, and
// packed back into the same bytes.
TEST(UnpackEndToEndTest, LayoutsArePrintedEditedAndGivenOnce) {
  TempDir dir;
  fs::create_directories(dir / "data");
  WriteFile(dir / "data/items.dbc", ItemsTable());
  // A key and a time stamp, whose bits read as a float of many digits.
  const std::string stamps =
      DbcBytes().Header(1, 2, 8, 1).Int(100000).Int(1234567890).Raw({"\0", 1}).Str();
  WriteFile(dir / "data/Stamps.dbc", stamps);
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

  // The other reading taken, its name in another case: every file of that
  // name takes the line, the others are guessed.
  std::string layouts = run.output.substr(run.output.find('#'));
  const std::string guessed = "Stamps.dbc int,float\n";
  layouts.replace(layouts.find(guessed), guessed.size() + 2, "# " + guessed);
  layouts.replace(layouts.find("Stamps.dbc int,int"), 10, "STAMPS.DBC");
  WriteFile(dir / "layouts.txt", layouts);
  arguments = {"--layouts", "layouts.txt"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  EXPECT_EQ(Unpack(dir, arguments, 0,
                   "Loading file 'data/items.dbc'.\n"
                   "Field types of 'data/items.dbc' (guessed; not named in 'layouts.txt'): "
                   "int,string,float\n"
                   "CSV file created 'data/items.dbc.csv'.\n"
                   "Round trip exact for 'data/items.dbc'.\n"
                   "Loading file 'data/Stamps.dbc'.\n"
                   "Field types of 'data/Stamps.dbc' (from 'layouts.txt' line '3'): int,int\n"
                   "CSV file created 'data/Stamps.dbc.csv'.\n"
                   "Round trip exact for 'data/Stamps.dbc'.\n"
                   "Unpacked '2' files: '2' round trips exact, '0' not exact, '0' failed.\n"),
            "");
  EXPECT_EQ(ReadFile(dir / "data/Stamps.dbc.csv"), "int,int\n100000,1234567890\n");
  testing::RunDbcpack(dir / "data");
  EXPECT_EQ(Printable(ReadFile(dir / "data/Stamps.dbc.csv.dbc")), Printable(stamps));

  // A malformed line stops the run before any file is touched; so do
  // types given both ways.
  WriteFile(dir / "bad.txt", "items.dbc int,string,float\n\nSTAMPS.DBC int,flaot\n");
  const testing::RunResult bad = RunDbcunpack(dir.Path(), {"--layouts=bad.txt", "--force", "data"});
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_EQ(bad.output, "");
  EXPECT_EQ(bad.errors,
            "ERROR: 'bad.txt': Line '3': Unknown field type 'flaot' (int, float, byte or "
            "string).\n");
  // Types from the layouts that do not fit a file fail it, with both counts.
  WriteFile(dir / "short.txt", "items.dbc int,string\n");
  EXPECT_EQ(Unpack(dir, {"--force", "--layouts", "short.txt", "data/items.dbc"}, 1,
                   "Loading file 'data/items.dbc'.\n"
                   "ERROR: 'data/items.dbc': The types of 'short.txt' line '1' give '2' fields "
                   "and '8'-byte records; the file has '3' fields and '12'-byte records.\n"),
            "");
}

// Every way a run can be refused or cut off says what happened on standard
// error, with the status for it: a bad command line (with the usage), a
// layouts file that cannot be read (empty, UTF-16, cut short while read,
// or the very file standard output goes to), and standard output that
// cannot be written, whatever was to go there. Faults inside the run say
// so on standard output: a folder that fails part way, a file cut short.
TEST(UnpackEndToEndTest, RefusalsAndFaultsSayWhatHappened) {
  TempDir dir;
  fs::create_directories(dir / "data");
  fs::create_directory(dir / "failing-listing");
  WriteFile(dir / "data/t.dbc", IntTable());
  WriteFile(dir / "failing-listing/t.dbc", IntTable());
  fs::create_directory(dir / "empty");
  WriteFile(dir / "lay.txt", "t.dbc int\n");
  WriteFile(dir / "redirected.txt", "t.dbc int\n");
  WriteFile(dir / "empty.txt", "");
  WriteFile(dir / "utf16.txt", std::string("\xFF\xFEt\0.\0d\0b\0c\0 \0i\0n\0t\0", 20));
  // Large enough to be mapped, as only a mapped file can shrink under its
  // reader.
  std::string padding;
  while (padding.size() < 300 * 1024) padding += "# padding of a large layouts file\n";
  WriteFile(dir / "cut-short.txt", padding + "t.dbc int\n");
  DbcBytes large;
  large.Header(70000, 1, 4, 1);
  for (int i = 0; i < 70000; ++i) large.Int(100000 + i);
  WriteFile(dir / "cut-short.dbc", large.Raw({"\0", 1}).Str());

  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string output;
    std::string errors;
    const char* outputFile = nullptr;
  };
  const std::string full = "ERROR: Can't write to standard output: " + Reason(ENOSPC);
  const Case cases[] = {
      {{}, 2, "", kUsage},
      {{"--types", "int,flt", "data"},
       2,
       "",
       "ERROR: --types: Unknown field type 'flt' (int, float, byte or string).\n" + kUsage},
      {{"--types", "int, int", "data"},
       2,
       "",
       "ERROR: --types: Field types must be written without spaces, such as "
       "'int,string,float'.\n" +
           kUsage},
      {{"data", "--frob"}, 2, "", "ERROR: Unknown option '--frob'.\n" + kUsage},
      {{"--types", "int", "--types", "int,int", "data"},
       2,
       "",
       "ERROR: Option '--types' is given more than once.\n" + kUsage},
      {{"--types=", "data"}, 2, "", "ERROR: --types: No field types given.\n" + kUsage},
      {{"data", "--types"},
       2,
       "",
       "ERROR: Option '--types' needs a list of field types.\n" + kUsage},
      {{"--layouts", "lay.txt", "--layouts=lay.txt", "data"},
       2,
       "",
       "ERROR: Option '--layouts' is given more than once.\n" + kUsage},
      {{"--layouts=", "data"},
       2,
       "",
       "ERROR: Option '--layouts' needs the name of a layouts file.\n" + kUsage},
      {{"--layouts", "lay.txt", "--types", "int,int", "data"},
       2,
       "",
       "ERROR: Give either '--types' or '--layouts', not both.\n" + kUsage},
      {{"--print-layouts", "--update-layouts", "lay.txt", "data"},
       2,
       "",
       "ERROR: Give either '--print-layouts' or '--update-layouts', not both.\n" + kUsage},
      {{"--layouts", "empty.txt", "data"},
       2,
       "",
       "ERROR: 'empty.txt': Layouts file is empty (a redirection into the file that is read, such "
       "as '> empty.txt', empties it before it is read).\n"},
      {{"--layouts", "utf16.txt", "data"},
       2,
       "",
       "ERROR: 'utf16.txt': Layouts file is UTF-16 text or holds NUL bytes; save it as UTF-8.\n"},
      {{"--layouts", "cut-short.txt", "data"},
       2,
       "",
       "ERROR: Can't read file 'cut-short.txt': File was cut short while it was read.\n"},
      {{"--layouts", "redirected.txt", "--print-layouts", "data"},
       2,
       "",
       "ERROR: 'redirected.txt': Standard output goes to the layouts file itself, which a "
       "redirection such as '> redirected.txt' empties before it is read; give --update-layouts "
       "to refresh it in place.\n",
       "redirected.txt"},
      {{"--print-layouts", "data"}, 1, "", full, "/dev/full"},
      {{"--force", "data"}, 1, "", full, "/dev/full"},
      {{"--help"}, 1, "", full, "/dev/full"},
      {{"failing-listing/", "empty"},
       1,
       "ERROR: Can't read folder 'failing-listing/': " + Reason(EIO) +
           "No DBC files found in 'empty'.\n",
       ""},
      {{"cut-short.dbc"},
       1,
       "Loading file 'cut-short.dbc'.\n"
       "ERROR: Can't read file 'cut-short.dbc': File was cut short while it was read.\n",
       ""},
  };
  for (const Case& c : cases) {
    const testing::RunResult run = RunDbcunpack(dir.Path(), c.arguments, 60,
                                                {.outputFile = c.outputFile, .injectFaults = true});
    const std::string arguments = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(run.exitStatus, c.status) << arguments;
    EXPECT_EQ(run.output, c.output) << arguments;
    EXPECT_EQ(run.errors, c.errors) << arguments;
  }
  EXPECT_EQ(ReadFile(dir / "lay.txt"), "t.dbc int\n");
}

// A layouts file refreshed keeps every line it holds as it stands (its
// comments, a second version of a table, the line of a table not found
// here, its line endings) and adds the lines of the tables it does not
// name, once for each name and types; printed, or written into the file
// itself. A name that no file had is said after the run.
TEST(UnpackEndToEndTest, RefreshedLayoutsKeepEveryLine) {
  TempDir dir;
  fs::create_directories(dir / "data/sub");
  WriteFile(dir / "data/items.dbc", ItemsTable());
  WriteFile(dir / "data/new.dbc", IntTable());
  WriteFile(dir / "data/sub/NEW.dbc", IntTable());
  const std::string kept =
      "# checked by hand\r\nitems.dbc int,string,float\r\nITEMS.DBC int,string\r\n"
      "stamps.dbc int,int";
  WriteFile(dir / "lay.txt", kept);
  const std::string unmatched =
      "WARNING: 'lay.txt': Line '4': No DBC file named 'stamps.dbc' was found.\n";
  const std::string refreshed = kept + "\r\nnew.dbc int\r\n";

  testing::RunResult run =
      RunDbcunpack(dir.Path(), {"--layouts", "lay.txt", "--print-layouts", "data"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(Printable(run.output), Printable(refreshed));
  EXPECT_EQ(run.errors, unmatched);

  run = RunDbcunpack(dir.Path(), {"--update-layouts", "lay.txt", "data"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output, unmatched + "Layouts file 'lay.txt' updated: '1' table added.\n");
  EXPECT_EQ(Printable(ReadFile(dir / "lay.txt")), Printable(refreshed));
  run = RunDbcunpack(dir.Path(), {"--update-layouts=lay.txt", "data"});
  EXPECT_EQ(run.output, unmatched + "Layouts file 'lay.txt' left as it was: no table to add.\n");
  EXPECT_EQ(Printable(ReadFile(dir / "lay.txt")), Printable(refreshed));

  run = RunDbcunpack(dir.Path(), {"--update-layouts", "new.txt", "data"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output, "Layouts file 'new.txt' created: '2' tables added.\n");
  EXPECT_EQ(ReadFile(dir / "new.txt"), "items.dbc int,string,float\nnew.dbc int\n");
  EXPECT_EQ(testing::ListNames(dir.Path()), "data lay.txt new.txt");
}

// A folder's files are found whatever the case of ".dbc", taken in byte
// order of their paths, and the run ends with its count and the files
// that failed or are not exact.
TEST(UnpackEndToEndTest, FolderRunIsSortedFindsAnyCaseAndIsSummedUp) {
  TempDir dir;
  fs::create_directories(dir / "data/b");
  // Made out of order; a string block that no record uses is not packed
  // again.
  WriteFile(dir / "data/z.dbc",
            DbcBytes().Header(1, 1, 4, 8).Int(100000).Raw(std::string("\0unused\0", 8)).Str());
  WriteFile(dir / "data/b/items.dbc", IntTable());
  WriteFile(dir / "data/EFFECTS.DBC", IntTable());
  WriteFile(dir / "data/a.dbc", std::string("WDBC\x01\0\0\0", 8));
  EXPECT_EQ(Unpack(dir, {"data"}, 1,
                   Unpacked("data/EFFECTS.DBC", "int", true) +
                       "Loading file 'data/a.dbc'.\n"
                       "ERROR: 'data/a.dbc': File is shorter than a DBC header ('8' of '20' "
                       "bytes).\n" +
                       Unpacked("data/b/items.dbc", "int", true) +
                       "Loading file 'data/z.dbc'.\n"
                       "Field types of 'data/z.dbc' (guessed; give a layouts file to correct "
                       "them): int\n"
                       "CSV file created 'data/z.dbc.csv'.\n"
                       "WARNING: 'data/z.dbc': Round trip not exact: the same strings behind every "
                       "offset, but the string block is laid out differently: it holds strings no "
                       "record uses ('7' of its '8' bytes).\n"
                       "Unpacked '4' files: '2' round trips exact, '1' not exact, '1' failed.\n"
                       "Failed: 'data/a.dbc'\n"
                       "Not exact: 'data/z.dbc'\n"),
            "");
  EXPECT_EQ(testing::ListNames(dir / "data"),
            "EFFECTS.DBC EFFECTS.DBC.csv a.dbc b z.dbc z.dbc.csv");
}

}  // namespace
}  // namespace dbcpack
