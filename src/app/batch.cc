// The batch run over every table found below the working directory.
#include "app/batch.h"

#include "app/build_info.h"
#include "app/discovery.h"
#include "dbc/dbc_writer.h"
#include "table/dbc_table.h"

namespace dbcpack {

void RunBatch(MessageSink& sink) {
  CollectCsvFiles(".");
  if (csvFiles.empty()) {
    sink.Print("No CSV files found in current directory.\n");
  }
  // One fresh table per file, released whether or not the load succeeded;
  // a failed file has printed its own error and the batch goes on.
  for (std::size_t i = 0; i < csvFiles.size(); ++i) {
    DbcTable table;
    if (table.LoadCsv(csvFiles[i], sink)) {
      WriteDbc(table, csvFiles[i], sink);
    }
    table.Release();
  }
  PrintBanner(sink);
}

void PrintBanner(MessageSink& sink) {
  sink.Print("\n");
  sink.Print("dbcpack - converts CSV files to DBC files\n");
  sink.Print("Written by the dbcpack developers.\n");
  sink.Print("Version %s, build %s, built %s.\n", kVersion, kBuildNumber, kBuildDate);
}

}  // namespace dbcpack
