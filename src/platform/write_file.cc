// Whole files written through ReplacementFile, the same on every system.
#include "platform/platform.h"

namespace dbcpack::platform {

WriteResult WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces,
                                bool replace) {
  ReplacementFile file;
  if (!file.Create(path)) return WriteResult::CannotCreate;
  bool written = true;
  for (const std::string_view piece : pieces) {
    if (!piece.empty() && !file.Write(piece.data(), piece.size())) {
      written = false;
      break;
    }
  }
  if (!file.Close() || !written) return WriteResult::CannotWrite;
  if (replace) return file.Commit() ? WriteResult::Written : WriteResult::CannotCreate;
  bool existed = false;
  if (file.CommitWithoutReplacing(existed)) return WriteResult::Written;
  return existed ? WriteResult::Exists : WriteResult::CannotCreate;
}

}  // namespace dbcpack::platform
