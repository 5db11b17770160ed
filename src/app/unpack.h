// The unpacker: turns DBC files back into CSV tables in the dialect the
// loader reads, beside each file, and proves for every one that packing the
// text again gives the same bytes. Its command line, its run over the paths
// given and the pipeline of one file; all print through a sink.
#pragma once

#include <string>
#include <vector>

#include "app/layouts.h"
#include "table/field_type.h"
#include "table/message_sink.h"

namespace dbcpack {

inline constexpr int kUnpackAllWritten = 0;  // every CSV file was written
inline constexpr int kUnpackSomeFailed = 1;  // at least one file or folder failed
inline constexpr int kUnpackBadCommand = 2;  // the command line was refused

struct UnpackOptions {
  // When typesGiven, `types` applies to every file; otherwise each file's
  // types are guessed and printed.
  bool typesGiven = false;
  std::vector<FieldType> types;
  // Replace a CSV file that already exists (it may hold the user's edits).
  bool force = false;
  // The types of tables by name, read from the file `layoutsPath`, whose
  // text is `layoutsText`; a file whose name has none is guessed.
  std::string layoutsPath;
  std::string layoutsText;
  std::vector<Layout> layouts;
  // --print-layouts and --update-layouts: no CSV file is written; the
  // layouts text is the file's text as it stands, then a line for each
  // table it does not name (a comment before it when the guess is unsure).
  // It goes to standard output, and every message to standard error; or,
  // with updateLayouts, it replaces the file at layoutsPath once complete.
  bool printLayouts = false;
  bool updateLayouts = false;
};

// The whole program but the key wait: reads `arguments` (argv[0] left out)
// as `dbcunpack [--types LIST | --layouts FILE] [--force] PATH...`,
// `dbcunpack [--layouts FILE] --print-layouts PATH...`,
// `dbcunpack --update-layouts FILE PATH...`, `--help` or `--version`,
// unpacks every PATH and returns the exit status. A command line that is
// refused, and a layouts file that cannot be read, go to `errors` (standard
// error), so that they never mix with output a script captures; so do all
// messages of --print-layouts, whose output is the layouts text.
// Everything else goes to `out`. Output that `out` fails to take ends the
// run, with an error on `errors` and the status kUnpackSomeFailed.
int RunUnpack(const std::vector<std::string>& arguments, MessageSink& out, MessageSink& errors);

}  // namespace dbcpack
