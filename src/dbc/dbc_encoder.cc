// The DBC header; everything after it is the table's bytes as they stand.
#include "dbc/dbc_encoder.h"

#include "table/encoding.h"

namespace dbcpack {

namespace {
constexpr std::uint32_t kMagic = 0x43424457;  // "WDBC" read as little-endian
}  // namespace

EncodedDbc EncodeDbc(const TableImage& table) {
  EncodedDbc encoded;
  char* w = encoded.header.data();
  w = PutFixed32(w, kMagic);
  w = PutFixed32(w, table.recordCount);
  w = PutFixed32(w, table.fieldCount);
  w = PutFixed32(w, table.recordSize);
  PutFixed32(w, static_cast<std::uint32_t>(table.stringBlock.size()));
  encoded.records = table.records;
  encoded.stringBlock = table.stringBlock;
  return encoded;
}

}  // namespace dbcpack
