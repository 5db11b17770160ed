// Whole files written through ReplacementFile, the same on every system.
#include "platform/platform.h"

namespace dbcpack::platform {

namespace {

WriteResult Failed(WriteResult result, const ReplacementFile& file, std::string* reason) {
  if (reason != nullptr) *reason = file.Failure();
  return result;
}

}  // namespace

WriteResult WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces,
                                bool replace, std::string* reason) {
  ReplacementFile file;
  if (!file.Create(path)) return Failed(WriteResult::CannotCreate, file, reason);
  bool written = true;
  for (const std::string_view piece : pieces) {
    if (!piece.empty() && !file.Write(piece.data(), piece.size())) {
      written = false;
      break;
    }
  }
  // After a failed write the file is only discarded, by the destructor, so
  // that the write's reason is the one reported.
  if (!written) return Failed(WriteResult::CannotWrite, file, reason);
  if (!file.Close()) return Failed(WriteResult::CannotWrite, file, reason);
  if (replace) {
    return file.Commit() ? WriteResult::Written : Failed(WriteResult::CannotCreate, file, reason);
  }
  bool existed = false;
  if (file.CommitWithoutReplacing(existed)) return WriteResult::Written;
  return existed ? WriteResult::Exists : Failed(WriteResult::CannotCreate, file, reason);
}

}  // namespace dbcpack::platform
