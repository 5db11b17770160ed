// The search for input tables: every file below a directory whose path ends
// in ".csv" (or, for the unpacker, ".dbc"), depth first, in the order the
// directory listings return them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "table/message_sink.h"

namespace dbcpack {

// A folder of the walk that could not be listed, or not to its end, and
// the system's words for why.
struct SkippedFolder {
  std::string path;
  std::string reason;
  bool partly = false;  // its entries up to the failure were taken
};

// Walks `dir` and appends to `found` the path (dir + "/" + name,
// recursively) of every non-directory entry whose text from the last full
// stop of the whole path is exactly `extension`, such as ".csv".
// Directories are walked where they are met; symbolic links are never
// walked into, nor a directory already on the walk's path. A folder that
// cannot be listed (`dir` itself included) is passed over; when `skipped`
// is given, it is noted there, in walk order.
void CollectFiles(const std::string& dir, std::string_view extension,
                  std::vector<std::string>& found, std::vector<SkippedFolder>* skipped = nullptr);

// CollectFiles for a folder named on a command line: "data/" names the same
// folder as "data", and its files "data/x.csv". Unlike the packer's walk,
// it is not silent: every folder that could not be listed or read to its
// end is an error on `sink`, named as the user named it, since it holds
// files the user asked for and did not get. Returns false when `dir`
// itself could not be listed; `complete` is false when any folder failed.
bool CollectFolder(const std::string& dir, std::string_view extension,
                   std::vector<std::string>& found, bool& complete, MessageSink& sink);

// The collected paths, in walk order.
extern std::vector<std::string> csvFiles;

// CollectFiles for ".csv", into csvFiles.
void CollectCsvFiles(const std::string& dir);

}  // namespace dbcpack
