// Construction defaults live in the header; this is the table's release.
#include "table/dbc_table.h"

namespace dbcpack {

void DbcTable::Release() {
  intValues.Release();
  floatValues.Release();
  byteValues.Release();
  std::string().swap(stringBlock);
  std::string().swap(fileName);
  recordCount = 0;
  fieldCount = 0;
  recordSize = 0;
  stringBlockSize = 0;
  lineNumber = 1;
  fieldIndex = 0;
}

}  // namespace dbcpack
