// The search for input tables: every file below a directory whose path ends
// in ".csv" (or, for the unpacker, ".dbc" in any case), depth first, in the
// order the directory listings return them.
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

// Whether two names are the same when ASCII letters are compared without
// regard to case: the same table comes as items.dbc and ITEMS.DBC.
bool SameNameAnyCase(std::string_view a, std::string_view b);

// Whether the ending of a name must match in case too (".csv" and not
// ".CSV"), or in any case (".dbc", ".DBC" and ".Dbc").
enum class ExtensionCase { Exact, Any };

// Walks `dir` and appends to `found` the path (dir + "/" + name,
// recursively) of every non-directory entry whose text from the last full
// stop of the whole path is `extension`, such as ".csv", all of it and
// nothing more. Directories are walked where they are met; symbolic links
// are never walked into, nor a directory already on the walk's path. A
// folder that cannot be listed (`dir` itself included) is passed over;
// when `skipped` is given, it is noted there, in walk order.
void CollectFiles(const std::string& dir, std::string_view extension,
                  std::vector<std::string>& found, std::vector<SkippedFolder>* skipped = nullptr,
                  ExtensionCase extensionCase = ExtensionCase::Exact);

// The collected paths, in walk order.
extern std::vector<std::string> csvFiles;

// CollectFiles for ".csv", into csvFiles.
void CollectCsvFiles(const std::string& dir);

}  // namespace dbcpack
