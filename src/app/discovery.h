// The search for input tables: every file below a directory whose path ends
// in ".csv" (or, for the unpacker, ".dbc"), depth first, in the order the
// directory listings return them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dbcpack {

// Walks `dir` and appends to `found` the path (dir + "/" + name,
// recursively) of every non-directory entry whose text from the last full
// stop of the whole path is exactly `extension`, such as ".csv".
// Directories are walked where they are met; symbolic links are never
// walked into, nor a directory already on the walk's path.
void CollectFiles(const std::string& dir, std::string_view extension,
                  std::vector<std::string>& found);

// The collected paths, in walk order.
extern std::vector<std::string> csvFiles;

// CollectFiles for ".csv", into csvFiles.
void CollectCsvFiles(const std::string& dir);

}  // namespace dbcpack
