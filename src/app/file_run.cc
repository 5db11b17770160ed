// The walk over a command line's paths, and the summary after it.
#include "app/file_run.h"

#include <algorithm>

#include "app/discovery.h"
#include "platform/platform.h"

namespace dbcpack {
namespace {

// Walks one folder given on the command line; false when `each` ended the
// run.
bool RunOverFolder(const std::string& dir, const FileSearch& search, RunTally& tally,
                   MessageSink& sink, const std::function<bool(const RunFile&)>& each) {
  // "data/" names the same folder as "data", and its files "data/x.dbc".
  std::string root = dir;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::vector<std::string> found;
  std::vector<SkippedFolder> skipped;
  CollectFiles(root, search.extension, found, &skipped, search.extensionCase);
  // Byte order of the paths, whatever order the system lists a folder in.
  std::sort(found.begin(), found.end());
  std::sort(skipped.begin(), skipped.end(),
            [](const SkippedFolder& a, const SkippedFolder& b) { return a.path < b.path; });
  // Not silent, as the packer's walk is: a folder left out is files the
  // user asked for and did not get.
  bool rootOpened = true;
  bool rootRead = true;
  for (const SkippedFolder& folder : skipped) {
    // The folder named on the command line, as it was named.
    const std::string& path = folder.path == root ? dir : folder.path;
    sink.Print("ERROR: Can't %s folder '%s': %s.\n", folder.partly ? "read" : "open", path.c_str(),
               folder.reason.c_str());
    tally.foldersNotRead.push_back(path);
    if (folder.path == root) (folder.partly ? rootRead : rootOpened) = false;
  }
  if (!rootOpened) return true;
  if (search.leaveOut) std::erase_if(found, search.leaveOut);
  // A folder read only in part was said to be.
  if (found.empty() && rootRead) {
    sink.Print("No %s files found in '%s'.\n", search.kind, dir.c_str());
  }
  for (const std::string& path : found) {
    if (!each(RunFile{path, true})) return false;
  }
  return true;
}

void PrintList(const char* label, const std::vector<std::string>& paths, MessageSink& sink) {
  for (const std::string& path : paths) sink.Print("%s: '%s'\n", label, path.c_str());
}

bool ReadFileOrSay(const std::string& path, platform::FileContents& contents, MessageSink& sink) {
  std::string reason;
  switch (platform::ReadWholeFile(path, contents, &reason)) {
    case platform::ReadResult::Read:
      return true;
    case platform::ReadResult::CannotOpen:
      sink.Print("ERROR: Can't open file '%s': %s.\n", path.c_str(), reason.c_str());
      return false;
    case platform::ReadResult::CannotRead:
      sink.Print("ERROR: Can't read file '%s': %s.\n", path.c_str(), reason.c_str());
      return false;
  }
  return false;
}

}  // namespace

void RunTally::Add(const std::string& path, FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::Done:
      ++done;
      return;
    case FileOutcome::Doubtful:
      doubtful.push_back(path);
      return;
    case FileOutcome::Failed:
      failed.push_back(path);
      return;
  }
}

void PrintSummary(const RunTally& tally, const SummaryWords& words, MessageSink& sink) {
  if (tally.Files() <= 1) return;
  std::string line = words.verb;
  line.append(" ").append(CountOf(tally.Files(), "file", "files")).append(": ");
  line.append(CountOf(tally.done, words.doneOne, words.doneMany)).append(", ");
  line.append(CountOf(tally.doubtful.size(), words.doubtful, words.doubtful)).append(", ");
  line.append(CountOf(tally.failed.size(), "failed", "failed"));
  if (!tally.foldersNotRead.empty()) {
    line.append("; ").append(CountOf(tally.foldersNotRead.size(), "folder", "folders"));
    line.append(" could not be read");
  }
  sink.Write(line.append(".\n"));
  PrintList("Failed", tally.failed, sink);
  PrintList(words.doubtfulLabel, tally.doubtful, sink);
  PrintList("Folder not read", tally.foldersNotRead, sink);
}

bool RunOverPaths(const std::vector<std::string>& paths, const FileSearch& search, RunTally& tally,
                  MessageSink& sink, const std::function<bool(const RunFile&)>& each) {
  bool anyFolder = false;
  for (const std::string& path : paths) {
    std::string reason;
    const platform::PathKind kind = platform::KindOf(path, &reason);
    if (kind == platform::PathKind::Directory) {
      anyFolder = true;
      if (!RunOverFolder(path, search, tally, sink, each)) break;
    } else if (kind == platform::PathKind::Missing && !platform::Exists(path)) {
      // Not always "no such file": a folder on the way may be closed to us.
      sink.Print("ERROR: Can't open file '%s': %s.\n", path.c_str(), reason.c_str());
      tally.Add(path, FileOutcome::Failed);
    } else if (!each(RunFile{path, false})) {
      break;
    }
  }
  return anyFolder;
}

void SayCutShort(const std::string& path, MessageSink& sink) {
  sink.Print("ERROR: Can't read file '%s': File was cut short while it was read.\n", path.c_str());
}

bool ReadFileAnd(const std::string& path, platform::FileContents& contents, MessageSink& sink,
                 const std::function<bool(MessageSink&)>& work) {
  if (!ReadFileOrSay(path, contents, sink)) return false;
  IntactOnlySink whileIntact(contents, sink);
  const bool done = work(whileIntact);
  if (!contents.Intact()) {
    SayCutShort(path, sink);
    return false;
  }
  return done;
}

}  // namespace dbcpack
