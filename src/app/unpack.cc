// The unpacker's command line, its run over the paths given, and the road
// of one DBC file: read, typed, checked, written as CSV text, and packed
// again from that text to compare with the original bytes.
#include "app/unpack.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <system_error>
#include <thread>

#include "app/build_info.h"
#include "app/discovery.h"
#include "dbc/dbc_reader.h"
#include "dbc/round_trip.h"
#include "dbc/type_guess.h"
#include "platform/large_memory.h"
#include "platform/platform.h"
#include "table/csv_writer.h"
#include "table/table_image.h"

namespace dbcpack {
namespace {

constexpr std::string_view kUsage =
    "Usage: dbcunpack [--types LIST] [--force] PATH...\n"
    "Writes FILE.csv beside each DBC FILE given, or found in a folder given.\n"
    "Give --help for the options and the workflow.\n";

constexpr std::string_view kHelp =
    "Usage: dbcunpack [--types LIST] [--force] PATH...\n"
    "\n"
    "Turns DBC files back into CSV tables that dbcpack packs again. Each FILE\n"
    "gives FILE.csv beside it: items.dbc gives items.dbc.csv. A PATH that is a\n"
    "folder is searched, with every folder below it, for files whose name ends\n"
    "in \".dbc\"; the outputs of dbcpack there (NAME.csv.dbc beside NAME.csv) are\n"
    "left out. Links to folders are not followed.\n"
    "\n"
    "Options:\n"
    "  --types LIST  the field types of every file, such as int,string,float:\n"
    "                int, float, byte or string for each field, in order. Without\n"
    "                it the types are guessed from the values and printed, so\n"
    "                that a wrong guess can be corrected with --types.\n"
    "  --force       replace a CSV file that already exists (without it, such\n"
    "                a file is left alone: it may hold your edits).\n"
    "  -h, --help    show this help.\n"
    "  --version     show the version.\n"
    "  --            end of the options: every further argument is a PATH.\n"
    "\n"
    "Workflow: unpack items.dbc to items.dbc.csv, edit the CSV file, run dbcpack\n"
    "in its folder (it writes items.dbc.csv.dbc), then rename items.dbc.csv.dbc\n"
    "to items.dbc.\n"
    "\n"
    "\"Round trip exact.\" means that the CSV file was packed again, as dbcpack\n"
    "packs it, and gave back the DBC file byte for byte: nothing was lost.\n"
    "Otherwise a warning names the first difference. It is about bytes only:\n"
    "it does NOT prove that the column types are right, since a wrong guess\n"
    "can give back the same bytes too. Check the types printed as guessed, and\n"
    "correct them with --types.\n"
    "\n"
    "Messages go to standard output, one line each, naming the file or folder;\n"
    "errors start with \"ERROR: \" and end with the system's reason where there\n"
    "is one. A refused command line goes to standard error, with the usage.\n"
    "\n"
    "Exit status: 0 when every CSV file was written, 1 when any file or folder\n"
    "failed, 2 for a bad command line.\n";

struct CommandLine {
  UnpackOptions options;
  std::vector<std::string> paths;
  bool typesSeen = false;
  bool help = false;
  bool version = false;
};

// Reads a --types list with the header line's own syntax and keywords.
bool ParseTypesOption(std::string_view list, CommandLine& commandLine, MessageSink& sink) {
  if (commandLine.typesSeen) {
    sink.Print("ERROR: Option '--types' is given more than once.\n");
    return false;
  }
  commandLine.typesSeen = true;
  TypeListError error;
  std::vector<FieldType>& types = commandLine.options.types;
  if (!ParseTypeList(list, types, error)) {
    const std::string entry(error.entry);
    switch (error.kind) {
      case TypeListError::Kind::EmptyName:
        sink.Print("ERROR: --types: Type of field '%i' is empty.\n", error.position);
        break;
      case TypeListError::Kind::UnknownType:
        sink.Print("ERROR: --types: Unknown field type '%s' (int, float, byte or string).\n",
                   entry.c_str());
        break;
      case TypeListError::Kind::TooLarge:
      case TypeListError::Kind::None:
        sink.Print("ERROR: --types: Records too large for a DBC file.\n");
        break;
    }
    return false;
  }
  if (types.empty()) {
    sink.Print("ERROR: --types: No field types given.\n");
    return false;
  }
  commandLine.options.typesGiven = true;
  return true;
}

// Options may stand anywhere among the paths, until "--".
bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& commandLine,
                      MessageSink& sink) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      commandLine.paths.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--force") {
      commandLine.options.force = true;
    } else if (argument == "--help" || argument == "-h") {
      commandLine.help = true;
    } else if (argument == "--version") {
      commandLine.version = true;
    } else if (argument.rfind("--types=", 0) == 0) {
      if (!ParseTypesOption(std::string_view(argument).substr(8), commandLine, sink)) return false;
    } else if (argument == "--types") {
      if (i + 1 == arguments.size()) {
        sink.Print("ERROR: Option '--types' needs a list of field types.\n");
        return false;
      }
      if (!ParseTypesOption(arguments[++i], commandLine, sink)) return false;
    } else {
      sink.Print("ERROR: Unknown option '%s'.\n", argument.c_str());
      return false;
    }
  }
  return true;
}

void PrintGuessedTypes(const std::vector<FieldType>& types, const std::string& dbcPath,
                       MessageSink& sink) {
  std::string list;
  for (const FieldType type : types) {
    if (!list.empty()) list += ',';
    list += FieldTypeKeyword(type);
  }
  sink.Print("Field types of '%s' (guessed; give --types to correct them): %s\n", dbcPath.c_str(),
             list.c_str());
}

// Everything between reading the file and writing its CSV text: the
// header, the types (given or guessed), the string offsets, the text.
bool ConvertToCsv(std::string_view bytes, const std::string& dbcPath, const UnpackOptions& options,
                  TableImage& table, std::vector<FieldType>& types, platform::LargeString& csv,
                  MessageSink& sink) {
  if (!ReadDbc(bytes, dbcPath, table, sink)) return false;
  if (options.typesGiven) {
    types = options.types;
    if (!CheckTypesFit(table, types, dbcPath, sink)) return false;
  } else {
    TypeGuess guess;
    if (!GuessFieldTypes(table, guess, dbcPath, sink)) return false;
    types = std::move(guess.types);
    PrintGuessedTypes(types, dbcPath, sink);
    if (!guess.doubts.empty()) {
      sink.Print("WARNING: '%s': Guessed types uncertain: %s.\n", dbcPath.c_str(),
                 DoubtText(guess.doubts).c_str());
    }
  }
  SettleStringBlock(table, types, dbcPath, sink);
  if (!CheckStringFields(table, types, dbcPath, sink)) return false;
  if (table.recordCount == 0) {
    sink.Print("WARNING: '%s': Table has no records; dbcpack refuses a table without records.\n",
               dbcPath.c_str());
  }
  return WriteCsv(table, types, dbcPath, csv, sink);
}

// Another program shortened the file while it was mapped; no system call
// failed, so the words are ours.
void ReportCutShort(const std::string& dbcPath, MessageSink& sink) {
  sink.Print("ERROR: Can't read file '%s': File was cut short while it was read.\n",
             dbcPath.c_str());
}

// Says why the CSV file was not written; false unless it was.
bool ReportWrite(platform::WriteResult result, const std::string& reason,
                 const std::string& csvPath, const std::string& dbcPath, MessageSink& sink) {
  switch (result) {
    case platform::WriteResult::Written:
      return true;
    case platform::WriteResult::Exists:
      // It appeared after the check before the work.
      sink.Print("ERROR: '%s': File '%s' already exists; give --force to replace it.\n",
                 dbcPath.c_str(), csvPath.c_str());
      return false;
    case platform::WriteResult::CannotWrite:
      sink.Print("ERROR: '%s': Can't write file '%s': %s.\n", dbcPath.c_str(), csvPath.c_str(),
                 reason.c_str());
      return false;
    case platform::WriteResult::CannotCreate:
      break;
  }
  sink.Print("ERROR: '%s': Can't create file '%s': %s.\n", dbcPath.c_str(), csvPath.c_str(),
             reason.c_str());
  return false;
}

// Writes the CSV file and packs its text again at the same time: both only
// read the text, and the write is mostly the kernel copying it into the
// page cache, so on a second core the check costs little more time than the
// write alone. Without a thread to be had, one after the other.
platform::WriteResult WriteAndCheck(const std::string& csvPath, const platform::LargeString& csv,
                                    bool force, std::string& reason, std::string_view dbcFile,
                                    const TableImage& table, const std::vector<FieldType>& types,
                                    RoundTrip& roundTrip) {
  const std::array<std::string_view, 1> pieces = {std::string_view(csv.data(), csv.size())};
  platform::WriteResult written = platform::WriteResult::CannotCreate;
  const auto write = [&] {
    written = platform::WriteFileAtomically(csvPath, pieces, force, &reason);
  };
  std::jthread writer;
  try {
    writer = std::jthread(write);
  } catch (const std::system_error&) {
    write();
  }
  roundTrip = CheckRoundTrip(csv, dbcFile, table, types);
  if (writer.joinable()) writer.join();
  return written;
}

// Walks `dir` like the packer does and unpacks every ".dbc" file that is
// not the packer's own output.
bool UnpackDirectory(const std::string& dir, const UnpackOptions& options, MessageSink& sink) {
  // "data/" names the same folder as "data", and its files "data/x.dbc".
  std::string root = dir;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::vector<std::string> found;
  std::vector<SkippedFolder> skipped;
  CollectFiles(root, ".dbc", found, &skipped);
  // Not silent, as the packer's walk is: a folder left out is files the
  // user asked for and did not get.
  for (const SkippedFolder& folder : skipped) {
    // The folder named on the command line, as it was named.
    const char* path = folder.path == root ? dir.c_str() : folder.path.c_str();
    if (folder.partly) {
      sink.Print("ERROR: Can't read folder '%s': %s.\n", path, folder.reason.c_str());
    } else {
      sink.Print("ERROR: Can't open folder '%s': %s.\n", path, folder.reason.c_str());
    }
  }
  if (!skipped.empty() && skipped.front().path == root && !skipped.front().partly) return false;
  constexpr std::string_view kPackedSuffix = ".csv.dbc";
  std::erase_if(found, [&](const std::string& path) {
    return path.ends_with(kPackedSuffix) &&
           platform::KindOf(path.substr(0, path.size() - 4)) == platform::PathKind::File;
  });
  if (found.empty()) {
    sink.Print("No DBC files found in '%s'.\n", dir.c_str());
    return skipped.empty();
  }
  bool allWritten = skipped.empty();
  for (const std::string& path : found) allWritten = UnpackFile(path, options, sink) && allWritten;
  return allWritten;
}

}  // namespace

int RunUnpack(const std::vector<std::string>& arguments, MessageSink& sink, MessageSink& errors) {
  CommandLine commandLine;
  if (!ParseCommandLine(arguments, commandLine, errors)) {
    errors.Write(kUsage);
    return kUnpackBadCommand;
  }
  if (commandLine.help) {
    sink.Write(kHelp);
    return kUnpackAllWritten;
  }
  if (commandLine.version) {
    sink.Print("dbcunpack %s (build %s, built %s)\n", kVersion, kBuildNumber, kBuildDate);
    return kUnpackAllWritten;
  }
  if (commandLine.paths.empty()) {
    errors.Write(kUsage);
    return kUnpackBadCommand;
  }
  return UnpackPaths(commandLine.paths, commandLine.options, sink);
}

int UnpackPaths(const std::vector<std::string>& paths, const UnpackOptions& options,
                MessageSink& sink) {
  bool allWritten = true;
  for (const std::string& path : paths) {
    std::string reason;
    const platform::PathKind kind = platform::KindOf(path, &reason);
    if (kind == platform::PathKind::Directory) {
      allWritten = UnpackDirectory(path, options, sink) && allWritten;
    } else if (kind == platform::PathKind::Missing && !platform::Exists(path)) {
      // Not always "no such file": a folder on the way may be closed to us.
      sink.Print("ERROR: Can't open file '%s': %s.\n", path.c_str(), reason.c_str());
      allWritten = false;
    } else {
      // Files, and what only looks like one (a dangling link, a device):
      // those fail to open, with the message for that.
      allWritten = UnpackFile(path, options, sink) && allWritten;
    }
  }
  return allWritten ? kUnpackAllWritten : kUnpackSomeFailed;
}

bool UnpackFile(const std::string& dbcPath, const UnpackOptions& options, MessageSink& sink) {
  const std::string csvPath = dbcPath + ".csv";
  // Before the work, so that no time is spent on a file that would be
  // refused at the end.
  if (!options.force && platform::Exists(csvPath)) {
    sink.Print("ERROR: '%s': File '%s' already exists; give --force to replace it.\n",
               dbcPath.c_str(), csvPath.c_str());
    return false;
  }
  platform::FileContents dbc;
  std::string reason;
  if (!platform::ReadWholeFile(dbcPath, dbc, &reason)) {
    sink.Print("ERROR: Can't open file '%s': %s.\n", dbcPath.c_str(), reason.c_str());
    return false;
  }
  sink.Print("Loading file '%s'.\n", dbcPath.c_str());
  TableImage table;
  std::vector<FieldType> types;
  platform::LargeString csv;
  IntactOnlySink whileIntact(dbc, sink);
  const bool converted = ConvertToCsv(dbc.View(), dbcPath, options, table, types, csv, whileIntact);
  if (!dbc.Intact()) {
    ReportCutShort(dbcPath, sink);
    return false;
  }
  if (!converted) return false;
  RoundTrip roundTrip;
  const platform::WriteResult written =
      WriteAndCheck(csvPath, csv, options.force, reason, dbc.View(), table, types, roundTrip);
  if (!ReportWrite(written, reason, csvPath, dbcPath, sink)) return false;
  sink.Print("CSV file created '%s'.\n", csvPath.c_str());
  if (!dbc.Intact()) {
    // Cut short after the text was made from it whole: what was compared
    // was no longer the file.
    ReportCutShort(dbcPath, sink);
    return false;
  }
  if (roundTrip.exact) {
    sink.Print("Round trip exact.\n");
  } else {
    sink.Print("WARNING: '%s': Round trip not exact: %s.\n", dbcPath.c_str(),
               roundTrip.difference.c_str());
  }
  return true;
}

}  // namespace dbcpack
