// The search for input tables: every file below a directory whose path ends
// in ".csv", depth first, in the order the directory listings return them.
#pragma once

#include <string>
#include <vector>

namespace dbcpack {

// The collected paths, in walk order.
extern std::vector<std::string> csvFiles;

// Walks `dir` and appends the path (dir + "/" + name, recursively) of every
// non-directory entry whose text from the last full stop of the whole path
// is exactly ".csv". Directories are walked where they are met; symbolic
// links are never walked into, nor a directory already on the walk's path.
void CollectCsvFiles(const std::string& dir);

}  // namespace dbcpack
