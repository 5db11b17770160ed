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
#include "app/unpack_command_line.h"
#include "dbc/dbc_reader.h"
#include "dbc/round_trip.h"
#include "guess/type_guess.h"
#include "platform/large_memory.h"
#include "platform/platform.h"
#include "table/csv_writer.h"
#include "table/table_image.h"

namespace dbcpack {
namespace {

// The types of one file and where they come from: given, a line of the
// layouts file, or guessed (with what the guess is unsure of).
struct FileTypes {
  std::vector<FieldType> types;
  const Layout* layout = nullptr;
  bool guessed = false;
  std::vector<TypeDoubt> doubts;
  std::vector<FieldType> otherReading;  // of an unsure guess, for a layouts text
};

// The first layout of the file's name whose types fit it; none fitting is
// an error with both counts.
bool TakeLayout(const TableImage& table, const std::string& dbcPath, const UnpackOptions& options,
                const std::vector<const Layout*>& named, FileTypes& chosen, MessageSink& sink) {
  for (const Layout* layout : named) {
    if (layout->types.size() == table.fieldCount &&
        RecordSizeOf(layout->types) == table.recordSize) {
      chosen.types = layout->types;
      chosen.layout = layout;
      return true;
    }
  }
  const Layout& first = *named.front();
  sink.Print(
      "ERROR: '%s': The types of '%s' line '%u' give '%zu' fields and '%lld'-byte records; the "
      "file has '%u' fields and '%u'-byte records.\n",
      dbcPath.c_str(), options.layoutsPath.c_str(), first.line, first.types.size(),
      static_cast<long long>(RecordSizeOf(first.types)), table.fieldCount, table.recordSize);
  return false;
}

bool ChooseTypes(const TableImage& table, const std::string& dbcPath, const UnpackOptions& options,
                 FileTypes& chosen, MessageSink& sink) {
  if (options.typesGiven) {
    chosen.types = options.types;
    return CheckTypesFit(table, chosen.types, dbcPath, sink);
  }
  const std::vector<const Layout*> named = LayoutsNamed(options.layouts, BaseName(dbcPath));
  if (!named.empty()) return TakeLayout(table, dbcPath, options, named, chosen, sink);
  TypeGuess guess;
  const OtherReading other =
      options.layoutsOut != nullptr ? OtherReading::Read : OtherReading::Skip;
  if (!GuessFieldTypes(table, guess, dbcPath, sink, other)) return false;
  chosen.types = std::move(guess.types);
  chosen.doubts = std::move(guess.doubts);
  chosen.otherReading = std::move(guess.otherReading);
  chosen.guessed = true;
  return true;
}

// Says where the types came from, and what a guess is unsure of.
void AnnounceTypes(const FileTypes& chosen, const std::string& dbcPath,
                   const UnpackOptions& options, MessageSink& sink) {
  const std::string list = TypeListText(chosen.types);
  const char* const path = dbcPath.c_str();
  if (chosen.layout != nullptr) {
    sink.Print("Field types of '%s' (from '%s' line '%u'): %s\n", path, options.layoutsPath.c_str(),
               chosen.layout->line, list.c_str());
  } else if (chosen.guessed && options.layoutsPath.empty()) {
    sink.Print("Field types of '%s' (guessed; give --types to correct them): %s\n", path,
               list.c_str());
  } else if (chosen.guessed) {
    sink.Print("Field types of '%s' (guessed; not named in '%s'): %s\n", path,
               options.layoutsPath.c_str(), list.c_str());
  }
  if (!chosen.doubts.empty()) {
    sink.Print("WARNING: '%s': Guessed types uncertain: %s.\n", path,
               DoubtText(chosen.doubts).c_str());
  }
}

// Everything between reading the file and writing its CSV text: the
// header, the types (given, from the layouts or guessed), the string
// offsets, the text.
bool ConvertToCsv(std::string_view bytes, const std::string& dbcPath, const UnpackOptions& options,
                  TableImage& table, std::vector<FieldType>& types,
                  std::vector<platform::LargeString>& csv, MessageSink& sink) {
  if (!ReadDbc(bytes, dbcPath, table, sink)) return false;
  FileTypes chosen;
  if (!ChooseTypes(table, dbcPath, options, chosen, sink)) return false;
  AnnounceTypes(chosen, dbcPath, options, sink);
  types = std::move(chosen.types);
  SettleStringBlock(table, types, dbcPath, sink);
  if (!CheckStringFields(table, types, dbcPath, sink)) return false;
  if (table.recordCount == 0) {
    sink.Print("WARNING: '%s': Table has no records; dbcpack refuses a table without records.\n",
               dbcPath.c_str());
  }
  return WriteCsv(table, types, dbcPath, csv, sink);
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
platform::WriteResult WriteAndCheck(const std::string& csvPath,
                                    const std::vector<platform::LargeString>& csv, bool force,
                                    std::string& reason, std::string_view dbcFile,
                                    const TableImage& table, const std::vector<FieldType>& types,
                                    RoundTrip& roundTrip) {
  const std::vector<std::string_view> pieces(csv.begin(), csv.end());
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
  roundTrip = CheckRoundTrip(pieces, dbcFile, table, types);
  if (writer.joinable()) writer.join();
  return written;
}

// Whether a file's name can stand in a layouts file and be read back as
// the same name.
bool WritableName(std::string_view name) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
  return !name.empty() && name.find_first_of("#\n\r") == std::string_view::npos &&
         !space(name.front()) && !space(name.back());
}

// The lines of one file in a layouts text: when the guess is unsure, a
// comment naming what to check, the line, and the other reading commented
// out, so that switching to it is moving one '#'.
std::string LayoutLines(std::string_view name, const std::string& dbcPath,
                        const FileTypes& chosen) {
  std::string text;
  if (!chosen.doubts.empty()) {
    text.append("# ").append(dbcPath).append(": Guessed types uncertain: ");
    text.append(DoubtText(chosen.doubts)).append(".\n");
  }
  text.append(LayoutLine(name, chosen.types)).push_back('\n');
  if (!chosen.otherReading.empty()) {
    text.append("# ").append(LayoutLine(name, chosen.otherReading)).push_back('\n');
  }
  return text;
}

// The layouts lines of one file to options.layoutsOut.
bool PrintLayout(const std::string& dbcPath, const UnpackOptions& options, MessageSink& sink) {
  const std::string_view name = BaseName(dbcPath);
  if (!WritableName(name)) {
    sink.Print("ERROR: '%s': The file's name cannot be written in a layouts file.\n",
               dbcPath.c_str());
    return false;
  }
  platform::FileContents dbc;
  if (!ReadFileOrSay(dbcPath, dbc, sink)) return false;
  TableImage table;
  FileTypes chosen;
  IntactOnlySink whileIntact(dbc, sink);
  const bool typed = ReadDbc(dbc.View(), dbcPath, table, whileIntact) &&
                     ChooseTypes(table, dbcPath, options, chosen, whileIntact);
  if (!dbc.Intact()) {
    SayCutShort(dbcPath, sink);
    return false;
  }
  if (!typed) return false;
  options.layoutsOut->Write(LayoutLines(name, dbcPath, chosen));
  return true;
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
  UnpackCommandLine commandLine;
  if (!ParseUnpackCommandLine(arguments, commandLine, errors)) {
    errors.Write(UnpackUsage());
    return kUnpackBadCommand;
  }
  if (commandLine.help) {
    sink.Write(UnpackHelp());
    return kUnpackAllWritten;
  }
  if (commandLine.version) {
    sink.Print("dbcunpack %s (build %s, built %s)\n", kVersion, kBuildNumber, kBuildDate);
    return kUnpackAllWritten;
  }
  if (commandLine.paths.empty()) {
    errors.Write(UnpackUsage());
    return kUnpackBadCommand;
  }
  if (!ReadLayoutsFile(commandLine.options, errors)) return kUnpackBadCommand;
  if (commandLine.printLayouts) {
    // The layouts text is the output; messages must not mix with it.
    commandLine.options.layoutsOut = &sink;
    return UnpackPaths(commandLine.paths, commandLine.options, errors);
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
  if (options.layoutsOut != nullptr) return PrintLayout(dbcPath, options, sink);
  const std::string csvPath = dbcPath + ".csv";
  // Before the work, so that no time is spent on a file that would be
  // refused at the end.
  if (!options.force && platform::Exists(csvPath)) {
    sink.Print("ERROR: '%s': File '%s' already exists; give --force to replace it.\n",
               dbcPath.c_str(), csvPath.c_str());
    return false;
  }
  platform::FileContents dbc;
  if (!ReadFileOrSay(dbcPath, dbc, sink)) return false;
  sink.Print("Loading file '%s'.\n", dbcPath.c_str());
  TableImage table;
  std::vector<FieldType> types;
  std::vector<platform::LargeString> csv;
  IntactOnlySink whileIntact(dbc, sink);
  const bool converted = ConvertToCsv(dbc.View(), dbcPath, options, table, types, csv, whileIntact);
  if (!dbc.Intact()) {
    SayCutShort(dbcPath, sink);
    return false;
  }
  if (!converted) return false;
  RoundTrip roundTrip;
  std::string reason;
  const platform::WriteResult written =
      WriteAndCheck(csvPath, csv, options.force, reason, dbc.View(), table, types, roundTrip);
  if (!ReportWrite(written, reason, csvPath, dbcPath, sink)) return false;
  sink.Print("CSV file created '%s'.\n", csvPath.c_str());
  if (!dbc.Intact()) {
    // Cut short after the text was made from it whole: what was compared
    // was no longer the file.
    SayCutShort(dbcPath, sink);
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
