// The run of a program over the paths of its command line: a path that
// names a file is taken as it is, a folder is walked for files of one kind,
// sorted by path so that every system lists them alike, and what cannot be
// reached is an error. A run over many files ends with a summary, so that
// the one failure among hundreds of lines is not missed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/discovery.h"
#include "platform/platform.h"
#include "table/message_sink.h"

namespace dbcpack {

// How one file of a run went: done, done but worth a look (for dbcunpack,
// a round trip that is not exact), or failed.
enum class FileOutcome { Done, Doubtful, Failed };

// The outcomes of a run, in the order met.
struct RunTally {
  std::size_t done = 0;
  std::vector<std::string> doubtful;
  std::vector<std::string> failed;
  std::vector<std::string> foldersNotRead;

  void Add(const std::string& path, FileOutcome outcome);
  std::size_t Files() const { return done + doubtful.size() + failed.size(); }
  bool AllReached() const { return failed.empty() && foldersNotRead.empty(); }
};

// The words of one program's summary line and of the list after it.
struct SummaryWords {
  const char* verb;           // "Unpacked"
  const char* doneOne;        // "round trip exact"
  const char* doneMany;       // "round trips exact"
  const char* doubtful;       // "not exact"
  const char* doubtfulLabel;  // "Not exact", before a path in the list
};

// After a run over more than one file, one line such as
// `Unpacked '300' files: '297' round trips exact, '2' not exact, '1' failed.`
// and then each file that failed, each that is doubtful and each folder
// that could not be read, one a line. Nothing for a run of one file, whose
// own messages say it all.
void PrintSummary(const RunTally& tally, const SummaryWords& words, MessageSink& sink);

// What a folder walk looks for.
struct FileSearch {
  // The ending of the names taken; in any case, ".dbc" takes EFFECTS.DBC.
  std::string_view extension;
  // The kind of file, for "No DBC files found in 'data'."
  const char* kind;
  // Files found that are left out, such as another program's outputs; may
  // be empty.
  std::function<bool(const std::string&)> leaveOut;
  // Whether the ending must match byte for byte.
  ExtensionCase extensionCase = ExtensionCase::Any;
};

// A file of a run, and whether a folder walk found it (rather than the
// command line naming it).
struct RunFile {
  const std::string& path;
  bool inFolder;
};

// Calls `each` for the files of `paths`, path by path: a path that names
// anything but a folder as it is (a device or a dangling link then fails to
// open, with its own message), a folder walked for the files `search`
// describes, in byte order of their paths, the folders below it included
// and links to folders never followed. A path that does not exist and a
// folder that cannot be listed are errors on `sink`, tallied; a folder
// without such files is said. `each` tallies its own file, and returns
// false to end the run there. Returns whether any path was a folder.
bool RunOverPaths(const std::vector<std::string>& paths, const FileSearch& search, RunTally& tally,
                  MessageSink& sink, const std::function<bool(const RunFile&)>& each);

// Reads the whole of a file the run takes into `contents`, then calls
// `work`, which prints through the sink it is given: one that falls silent
// once the file is cut short under its reader (a mapped file another
// program truncates), since what it would say is not about the file; then
// only that is said. False after the error that names the file with the
// system's reason (it could not be opened, or not read), when the file
// was cut short, or when `work` returned false.
bool ReadFileAnd(const std::string& path, platform::FileContents& contents, MessageSink& sink,
                 const std::function<bool(MessageSink&)>& work);

// The error for a file another program cut short while it was read (no
// system call failed, so the words are ours).
void SayCutShort(const std::string& path, MessageSink& sink);

}  // namespace dbcpack
