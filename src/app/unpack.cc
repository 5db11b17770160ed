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
#include "app/file_run.h"
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

// One run over the paths: what it was asked, where its words go, and what
// it has met so far.
struct UnpackRun {
  UnpackRun(const UnpackOptions& runOptions, MessageSink& messages)
      : options(runOptions), sink(messages) {}

  const UnpackOptions& options;
  MessageSink& sink;  // the messages
  // In the layouts modes, the layouts text; null when CSV files are
  // written.
  MessageSink* layoutsOut = nullptr;
  // The names of the files met, for the layouts names that match none.
  std::vector<std::string> names;
  // The lines added after those of the layouts file, one per table.
  std::vector<Layout> added;
  // Added lines end as the file's first line does; a file whose last line
  // has no line ending gets one before the first added line.
  std::string_view lineEnd = "\n";
  bool lineEndOwed = false;
};

constexpr SummaryWords kSummaryWords = {"Unpacked", "round trip exact", "round trips exact",
                                        "not exact", "Not exact"};

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
      "ERROR: '%s': The types of '%s' line '%u' give %s and '%lld'-byte records; the file has %s "
      "and '%u'-byte records.\n",
      dbcPath.c_str(), options.layoutsPath.c_str(), first.line,
      CountOf(first.types.size(), "field", "fields").c_str(),
      static_cast<long long>(RecordSizeOf(first.types)),
      CountOf(table.fieldCount, "field", "fields").c_str(), table.recordSize);
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
  // Only a layouts text has a place for the other reading.
  const OtherReading other =
      options.printLayouts || options.updateLayouts ? OtherReading::Read : OtherReading::Skip;
  if (!GuessFieldTypes(table, guess, dbcPath, sink, other)) return false;
  chosen.types = std::move(guess.types);
  chosen.doubts = std::move(guess.doubts);
  chosen.otherReading = std::move(guess.otherReading);
  chosen.guessed = true;
  return true;
}

// Says where the types came from, and what a guess is unsure of. A file
// found in a folder is one of many, whose types a layouts file gives best.
void AnnounceTypes(const FileTypes& chosen, const RunFile& file, const UnpackOptions& options,
                   MessageSink& sink) {
  const std::string list = TypeListText(chosen.types);
  const char* const path = file.path.c_str();
  if (chosen.layout != nullptr) {
    sink.Print("Field types of '%s' (from '%s' line '%u'): %s\n", path, options.layoutsPath.c_str(),
               chosen.layout->line, list.c_str());
  } else if (chosen.guessed && options.layoutsPath.empty()) {
    sink.Print("Field types of '%s' (guessed; give %s to correct them): %s\n", path,
               file.inFolder ? "a layouts file" : "--types", list.c_str());
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
bool ConvertToCsv(std::string_view bytes, const RunFile& file, const UnpackOptions& options,
                  TableImage& table, std::vector<FieldType>& types,
                  std::vector<platform::LargeString>& csv, MessageSink& sink) {
  const std::string& dbcPath = file.path;
  if (!ReadDbc(bytes, dbcPath, table, sink)) return false;
  FileTypes chosen;
  if (!ChooseTypes(table, dbcPath, options, chosen, sink)) return false;
  AnnounceTypes(chosen, file, options, sink);
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

// The lines of a table the layouts file does not name: a comment first
// when the guess is unsure, then its NAME TYPES line, then the other
// reading commented out. A line the text
// already holds, from a table of the same name in another folder, is not
// added twice.
void AddLayoutLines(const std::string& dbcPath, std::string_view name, const FileTypes& chosen,
                    UnpackRun& run) {
  for (const Layout& layout : run.added) {
    if (SameNameAnyCase(layout.name, name) && layout.types == chosen.types) return;
  }
  std::string text;
  if (run.lineEndOwed) text.assign(run.lineEnd);
  run.lineEndOwed = false;
  if (!chosen.doubts.empty()) {
    text.append("# ").append(dbcPath).append(": Guessed types uncertain: ");
    text.append(DoubtText(chosen.doubts)).append(".").append(run.lineEnd);
  }
  text.append(LayoutLine(name, chosen.types)).append(run.lineEnd);
  // The other reading of an unsure guess, commented out: switching to it
  // is moving one '#'.
  if (!chosen.otherReading.empty()) {
    text.append("# ").append(LayoutLine(name, chosen.otherReading)).append(run.lineEnd);
  }
  run.layoutsOut->Write(text);
  run.added.push_back(Layout{std::string(name), chosen.types, 0});
}

// The layouts lines of one file, for a table the layouts file does not
// name; one it names is only checked against its lines, which the text
// holds already.
FileOutcome PrintLayout(const std::string& dbcPath, UnpackRun& run) {
  MessageSink& sink = run.sink;
  const std::string_view name = BaseName(dbcPath);
  const bool named = !LayoutsNamed(run.options.layouts, name).empty();
  if (!named && !WritableLayoutName(name)) {
    sink.Print(
        "ERROR: '%s': The file's name cannot be written in a layouts file; give its types with "
        "--types.\n",
        dbcPath.c_str());
    return FileOutcome::Failed;
  }
  platform::FileContents dbc;
  TableImage table;
  FileTypes chosen;
  if (!ReadFileAnd(dbcPath, dbc, sink, [&](MessageSink& said) {
        return ReadDbc(dbc.View(), dbcPath, table, said) &&
               ChooseTypes(table, dbcPath, run.options, chosen, said);
      })) {
    return FileOutcome::Failed;
  }
  if (!named) AddLayoutLines(dbcPath, name, chosen, run);
  return FileOutcome::Done;
}

// Unpacks the DBC file to its path + ".csv" and says whether the round trip
// is exact; nothing is written for a file that fails before that.
FileOutcome UnpackFile(const RunFile& file, const UnpackOptions& options, MessageSink& sink) {
  const std::string& dbcPath = file.path;
  const std::string csvPath = dbcPath + ".csv";
  // Before the work, so that no time is spent on a file that would be
  // refused at the end.
  if (!options.force && platform::Exists(csvPath)) {
    sink.Print("ERROR: '%s': File '%s' already exists; give --force to replace it.\n",
               dbcPath.c_str(), csvPath.c_str());
    return FileOutcome::Failed;
  }
  platform::FileContents dbc;
  TableImage table;
  std::vector<FieldType> types;
  std::vector<platform::LargeString> csv;
  if (!ReadFileAnd(dbcPath, dbc, sink, [&](MessageSink& said) {
        sink.Print("Loading file '%s'.\n", dbcPath.c_str());
        return ConvertToCsv(dbc.View(), file, options, table, types, csv, said);
      })) {
    return FileOutcome::Failed;
  }
  RoundTrip roundTrip;
  std::string reason;
  const platform::WriteResult written =
      WriteAndCheck(csvPath, csv, options.force, reason, dbc.View(), table, types, roundTrip);
  if (!ReportWrite(written, reason, csvPath, dbcPath, sink)) return FileOutcome::Failed;
  sink.Print("CSV file created '%s'.\n", csvPath.c_str());
  if (!dbc.Intact()) {
    // Cut short after the text was made from it whole: what was compared
    // was no longer the file.
    SayCutShort(dbcPath, sink);
    return FileOutcome::Failed;
  }
  if (!roundTrip.exact) {
    sink.Print("WARNING: '%s': Round trip not exact: %s.\n", dbcPath.c_str(),
               roundTrip.difference.c_str());
    return FileOutcome::Doubtful;
  }
  sink.Print("Round trip exact for '%s'.\n", dbcPath.c_str());
  return FileOutcome::Done;
}

// After a folder run: each name of the layouts file that no file had, once
// per name, at its first line. A name that matches nothing is most often
// mistyped, and its table was guessed.
void WarnUnmatched(const UnpackRun& run) {
  const std::vector<Layout>& layouts = run.options.layouts;
  for (auto layout = layouts.begin(); layout != layouts.end(); ++layout) {
    const auto sameName = [&](const auto& other) { return SameNameAnyCase(other, layout->name); };
    const bool earlier = std::any_of(layouts.begin(), layout,
                                     [&](const Layout& other) { return sameName(other.name); });
    if (earlier || std::any_of(run.names.begin(), run.names.end(), sameName)) continue;
    run.sink.Print("WARNING: '%s': Line '%u': No DBC file named '%s' was found.\n",
                   run.options.layoutsPath.c_str(), layout->line, layout->name.c_str());
  }
}

// --update-layouts: the file replaced by the whole text, once complete, and
// only when there is a line to add.
bool WriteLayoutsFile(const std::string& text, const UnpackRun& run) {
  const char* const path = run.options.layoutsPath.c_str();
  const bool isNew = run.options.layoutsText.empty();
  if (run.added.empty()) {
    run.sink.Print("Layouts file '%s' %s: no table to add.\n", path,
                   isNew ? "not created" : "left as it was");
    return true;
  }
  const std::string_view pieces[] = {text};
  std::string reason;
  if (platform::WriteFileAtomically(run.options.layoutsPath, pieces, true, &reason) !=
      platform::WriteResult::Written) {
    run.sink.Print("ERROR: Can't write file '%s': %s.\n", path, reason.c_str());
    return false;
  }
  run.sink.Print("Layouts file '%s' %s: %s added.\n", path, isNew ? "created" : "updated",
                 CountOf(run.added.size(), "table", "tables").c_str());
  return true;
}

// The packer's own outputs, NAME.csv.dbc beside NAME.csv, are no tables of
// the user's.
bool IsPackedOutput(const std::string& path) {
  constexpr std::string_view kPackedSuffix = ".csv.dbc";
  return path.ends_with(kPackedSuffix) &&
         platform::KindOf(path.substr(0, path.size() - 4)) == platform::PathKind::File;
}

// Every file of the paths, unpacked or its layouts lines printed, until the
// end or until `out` fails.
int UnpackAll(const std::vector<std::string>& paths, const UnpackOptions& options, MessageSink& out,
              MessageSink& errors) {
  const bool layoutsMode = options.printLayouts || options.updateLayouts;
  UnpackRun run(options, options.printLayouts ? errors : out);
  StringSink updated;
  if (layoutsMode) {
    run.layoutsOut = options.updateLayouts ? &updated : &out;
    run.layoutsOut->Write(options.layoutsText);
    run.lineEnd = LineEndOf(options.layoutsText);
    run.lineEndOwed = !options.layoutsText.empty() && !options.layoutsText.ends_with('\n');
  }
  const FileSearch search{".dbc", "DBC", IsPackedOutput};
  RunTally tally;
  bool ended = false;
  const bool anyFolder = RunOverPaths(paths, search, tally, run.sink, [&](const RunFile& file) {
    run.names.emplace_back(BaseName(file.path));
    tally.Add(file.path,
              layoutsMode ? PrintLayout(file.path, run) : UnpackFile(file, options, run.sink));
    ended = !out.Failure().empty();
    return !ended;
  });
  if (ended) return kUnpackSomeFailed;
  if (anyFolder) WarnUnmatched(run);
  bool written = true;
  if (options.updateLayouts) {
    written = WriteLayoutsFile(updated.Text(), run);
  } else if (!layoutsMode) {
    PrintSummary(tally, kSummaryWords, run.sink);
  }
  return tally.AllReached() && written ? kUnpackAllWritten : kUnpackSomeFailed;
}

}  // namespace

int RunUnpack(const std::vector<std::string>& arguments, MessageSink& out, MessageSink& errors) {
  UnpackCommandLine commandLine;
  if (!ParseUnpackCommandLine(arguments, commandLine, errors)) {
    errors.Write(UnpackUsage());
    return kUnpackBadCommand;
  }
  int status = kUnpackAllWritten;
  if (commandLine.help) {
    out.Write(UnpackHelp());
  } else if (commandLine.version) {
    out.Print("dbcunpack %s (build %s, built %s)\n", kVersion, kBuildNumber, kBuildDate);
  } else if (commandLine.paths.empty()) {
    errors.Write(UnpackUsage());
    return kUnpackBadCommand;
  } else if (!ReadLayoutsFile(commandLine.options, errors)) {
    return kUnpackBadCommand;
  } else {
    status = UnpackAll(commandLine.paths, commandLine.options, out, errors);
  }
  // A layouts text that did not reach its file is lost work, and so are
  // messages a log was meant to keep.
  out.Flush();
  if (!out.Failure().empty()) {
    errors.Print("ERROR: Can't write to standard output: %s.\n", out.Failure().c_str());
    return kUnpackSomeFailed;
  }
  return status;
}

}  // namespace dbcpack
