// The DBC writer: the table's encoded pieces go to the file in a few large
// writes; the file is created beside the output and moved over it only once
// complete, so no failure can leave a truncated or half-written table
// behind.
#include "dbc/dbc_writer.h"

#include "dbc/dbc_encoder.h"
#include "platform/platform.h"

namespace dbcpack {

bool WriteDbc(const DbcTable& table, const std::string& csvPath, MessageSink& sink) {
  const std::string outputName = csvPath + ".dbc";
  const EncodedDbc encoded = EncodeDbc(table.Image());
  const std::array<std::string_view, 3> pieces = encoded.Pieces();
  // Run again over tables that did not change, every output would be
  // written anew for nothing; comparing costs less than writing.
  if (!platform::RefreshIfIdentical(outputName, pieces)) {
    switch (platform::WriteFileAtomically(outputName, pieces, /*replace=*/true)) {
      case platform::WriteResult::Written:
        break;
      case platform::WriteResult::CannotWrite:
        sink.Print("ERROR: '%s': Can't write file.\n", csvPath.c_str());
        return false;
      case platform::WriteResult::CannotCreate:
      case platform::WriteResult::Exists:
        sink.Print("ERROR: '%s': Can't create file.\n", csvPath.c_str());
        return false;
    }
  }
  sink.Print("DBC file created '%s'.\n", outputName.c_str());
  return true;
}

}  // namespace dbcpack
