// The tidy program: its command line, the walk of the folders given (sorted,
// so that a run's messages come in the same order on every system) and the
// road of one file: read, tidied, checked by the loader, replaced.
#include "app/tidy.h"

#include <string_view>

#include "app/build_info.h"
#include "app/file_run.h"
#include "platform/platform.h"
#include "table/spreadsheet_tidy.h"

namespace dbcpack {
namespace {

constexpr std::string_view kUsage =
    "Usage: dbctidy PATH...\n"
    "Rewrites each CSV FILE given, or found in a folder given, as saved by a\n"
    "spreadsheet, into the dialect dbcpack reads. Give --help for more.\n";

constexpr std::string_view kHelp =
    "Usage: dbctidy PATH...\n"
    "\n"
    "Rewrites in place a CSV table that a spreadsheet saved (LibreOffice Calc,\n"
    "Excel, Google Sheets) into exactly the dialect dbcpack reads, so that it\n"
    "packs again. A PATH that is a folder is searched, with every folder below\n"
    "it, for files whose name ends in \".csv\". Links to folders are not followed.\n"
    "\n"
    "It reads: a UTF-8 byte order mark; LF or CR LF line ends; cells separated\n"
    "by ',' or, where only that reads the file, by ';' (with decimal commas);\n"
    "cells in double quotes or bare; a first line of types quoted, padded or in\n"
    "any case. It writes: the first line bare and in lower case, every string\n"
    "cell in double quotes, numbers bare with a decimal point, a line break\n"
    "inside a string as \\n or \\r, LF line ends. The rest of a string is kept as\n"
    "it is: the escapes dbcunpack wrote (\\n, \\\\n) are in it already.\n"
    "\n"
    "A file is left untouched, with an error naming the line and column, when\n"
    "a number cell is not a number in full (dbcpack would read 12abc as 12), a\n"
    "line has another number of cells than the first, or a quote never closes.\n"
    "A warning names a string cell that holds a spreadsheet's error value\n"
    "(#NAME?, Err:502...: a formula took the place of the text) and a file that\n"
    "is not UTF-8 (save as \"CSV UTF-8\"). A file is replaced only by a complete\n"
    "text that dbcpack's loader reads; a file in the dialect already is left\n"
    "as it is (\"Already tidy\").\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help.\n"
    "  --version   show the version.\n"
    "  --          end of the options: every further argument is a PATH.\n"
    "\n"
    "Messages go to standard output, one line each, naming the file. Exit\n"
    "status: 0 when every file is tidy, 1 when any file or folder failed, 2 for\n"
    "a bad command line.\n";

struct TidyCommandLine {
  std::vector<std::string> paths;
  bool help = false;
  bool version = false;
};

bool ParseTidyCommandLine(const std::vector<std::string>& arguments, TidyCommandLine& commandLine,
                          MessageSink& errors) {
  bool optionsEnded = false;
  for (const std::string& argument : arguments) {
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      commandLine.paths.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      commandLine.help = true;
    } else if (argument == "--version") {
      commandLine.version = true;
    } else {
      errors.Print("ERROR: Unknown option '%s'.\n", argument.c_str());
      return false;
    }
  }
  return true;
}

constexpr SummaryWords kSummaryWords = {"Tidied", "tidy", "tidy", "with warnings", "With warnings"};

// Notes whether a warning passed, so that a file tidied with one is named
// again after a run over many.
class WarningNotingSink final : public MessageSink {
 public:
  explicit WarningNotingSink(MessageSink& out) : out_(out) {}
  void Write(std::string_view text) override {
    warned_ = warned_ || text.starts_with("WARNING: ");
    out_.Write(text);
  }
  bool Warned() const { return warned_; }

 private:
  MessageSink& out_;
  bool warned_ = false;
};

bool ReportReplace(platform::WriteResult result, const std::string& reason, const std::string& path,
                   MessageSink& sink) {
  if (result == platform::WriteResult::Written) return true;
  const char* const what =
      result == platform::WriteResult::CannotWrite ? "Can't write file" : "Can't create file";
  sink.Print("ERROR: '%s': %s '%s': %s; it is left as it was.\n", path.c_str(), what, path.c_str(),
             reason.c_str());
  return false;
}

}  // namespace

int RunTidy(const std::vector<std::string>& arguments, MessageSink& sink, MessageSink& errors) {
  TidyCommandLine commandLine;
  if (!ParseTidyCommandLine(arguments, commandLine, errors)) {
    errors.Write(kUsage);
    return kTidyBadCommand;
  }
  if (commandLine.help) {
    sink.Write(kHelp);
    return kTidyAllDone;
  }
  if (commandLine.version) {
    sink.Print("dbctidy %s (build %s, built %s)\n", kVersion, kBuildNumber, kBuildDate);
    return kTidyAllDone;
  }
  if (commandLine.paths.empty()) {
    errors.Write(kUsage);
    return kTidyBadCommand;
  }
  // The files dbcpack takes, ".csv" exactly: tidying a file that the
  // packer then passes over would only hide that it is passed over.
  RunTally tally;
  RunOverPaths(commandLine.paths, FileSearch{".csv", "CSV", {}, ExtensionCase::Exact}, tally, sink,
               [&](const RunFile& file) {
                 tally.Add(file.path, TidyFile(file.path, sink));
                 return true;
               });
  PrintSummary(tally, kSummaryWords, sink);
  return tally.AllReached() ? kTidyAllDone : kTidySomeFailed;
}

FileOutcome TidyFile(const std::string& path, MessageSink& out) {
  WarningNotingSink sink(out);
  platform::FileContents contents;
  std::string tidied;
  TidyChanges changes;
  if (!ReadFileAnd(path, contents, sink, [&](MessageSink& said) {
        return TidyCsv(contents.View(), path, tidied, changes, said);
      })) {
    return FileOutcome::Failed;
  }
  if (tidied == contents.View()) {
    sink.Print("Already tidy '%s'.\n", path.c_str());
    return sink.Warned() ? FileOutcome::Doubtful : FileOutcome::Done;
  }
  std::string reason;
  const std::string_view piece = tidied;
  const platform::WriteResult result = platform::WriteFileAtomically(
      path, std::span<const std::string_view>(&piece, 1), true, &reason);
  if (!ReportReplace(result, reason, path, sink)) return FileOutcome::Failed;
  sink.Print("Tidied '%s': %s.\n", path.c_str(), DescribeChanges(changes).c_str());
  return sink.Warned() ? FileOutcome::Doubtful : FileOutcome::Done;
}

}  // namespace dbcpack
