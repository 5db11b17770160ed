// The directory walk. Listings of all directories above the one being
// walked stay open, so the walk sees each listing's entries in its own order
// and lists a subdirectory's tables where the subdirectory is met.
#include "app/discovery.h"

#include <algorithm>

#include "platform/platform.h"

namespace dbcpack {

std::vector<std::string> csvFiles;

bool SameNameAnyCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

namespace {

struct Walk {
  std::string_view extension;
  ExtensionCase extensionCase;
  std::vector<std::string>& found;
  std::vector<SkippedFolder>* skipped;
  std::vector<platform::DirectoryId> walkPath;

  // The whole ending, so that a backup (items.csv~) or a longer ending
  // (t.csvx) is not taken.
  bool Matches(std::string_view ending) const {
    return extensionCase == ExtensionCase::Exact ? ending == extension
                                                 : SameNameAnyCase(ending, extension);
  }

  void Note(const std::string& dir, const std::string& reason, bool partly) {
    if (skipped != nullptr) skipped->push_back({dir, reason, partly});
  }

  // `isFolder`: `dir` is known to be a directory. Device entries are walked
  // too and fail to open, which is no news.
  void Folder(const std::string& dir, bool isFolder) {
    platform::DirectoryListing listing;
    if (!listing.Open(dir)) {
      if (isFolder) Note(dir, listing.Failure(), false);
      return;
    }
    for (const platform::DirectoryId& id : walkPath) {
      if (id == listing.Id()) return;  // already being walked: a bind-mount cycle
    }
    walkPath.push_back(listing.Id());

    platform::DirectoryEntry entry;
    std::string path;
    while (listing.Next(entry)) {
      if (entry.name == "." || entry.name == "..") continue;
      path.assign(dir).append("/").append(entry.name);
      if (entry.kind == platform::EntryKind::File) {
        // The text from the last full stop of the whole path, so a dot in a
        // directory name counts too. Every path starts with ".", so there
        // is always one.
        const std::size_t dot = path.rfind('.');
        if (dot != std::string::npos && Matches(std::string_view(path).substr(dot))) {
          found.push_back(path);
        }
      } else {
        Folder(path, entry.kind == platform::EntryKind::Directory);
      }
    }
    // A listing that fails part way ends there, like its end.
    if (!listing.Failure().empty()) Note(dir, listing.Failure(), true);
    walkPath.pop_back();
  }
};

}  // namespace

void CollectFiles(const std::string& dir, std::string_view extension,
                  std::vector<std::string>& found, std::vector<SkippedFolder>* skipped,
                  ExtensionCase extensionCase) {
  Walk walk{extension, extensionCase, found, skipped, {}};
  walk.Folder(dir, true);
}

void CollectCsvFiles(const std::string& dir) { CollectFiles(dir, ".csv", csvFiles); }

}  // namespace dbcpack
