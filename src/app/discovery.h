// The search for input tables: every file below a directory whose path ends
// in ".csv" (or, for the unpacker, ".dbc"), depth first, in the order the
// directory listings return them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// The collected paths, in walk order.
extern std::vector<std::string> csvFiles;

// CollectFiles for ".csv", into csvFiles.
void CollectCsvFiles(const std::string& dir);

}  // namespace dbcpack
