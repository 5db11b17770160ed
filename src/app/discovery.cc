// The directory walk. Listings of all directories above the one being
// walked stay open, so the walk sees each listing's entries in its own order
// and lists a subdirectory's tables where the subdirectory is met.
#include "app/discovery.h"

#include <cstring>

#include "platform/platform.h"

namespace dbcpack {

std::vector<std::string> csvFiles;

namespace {

void Walk(const std::string& dir, std::string_view extension, std::vector<std::string>& found,
          std::vector<platform::DirectoryId>& walkPath) {
  platform::DirectoryListing listing;
  if (!listing.Open(dir)) return;  // not a directory, or unreadable: skipped silently
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
      // directory name counts too. Every path starts with ".", so there is
      // always one.
      const std::size_t dot = path.rfind('.');
      if (dot != std::string::npos && path.compare(dot, std::string::npos, extension) == 0) {
        found.push_back(path);
      }
    } else {
      Walk(path, extension, found, walkPath);
    }
  }
  walkPath.pop_back();
}

}  // namespace

void CollectFiles(const std::string& dir, std::string_view extension,
                  std::vector<std::string>& found) {
  std::vector<platform::DirectoryId> walkPath;
  Walk(dir, extension, found, walkPath);
}

void CollectCsvFiles(const std::string& dir) { CollectFiles(dir, ".csv", csvFiles); }

}  // namespace dbcpack
