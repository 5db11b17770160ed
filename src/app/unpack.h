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
  // The types of tables by name, read from the file `layoutsPath`; a file
  // whose name has none is guessed.
  std::string layoutsPath;
  std::vector<Layout> layouts;
  // When set, no CSV file is written: each file's layouts line goes here,
  // a comment before it when the guess is unsure, and every message to the
  // sink the run is given.
  MessageSink* layoutsOut = nullptr;
};

// The whole program but the key wait: reads `arguments` (argv[0] left out)
// as `dbcunpack [--types LIST | --layouts FILE] [--force] PATH...`,
// `dbcunpack [--layouts FILE] --print-layouts PATH...`, `--help` or
// `--version`, unpacks every PATH and returns the exit status. A command
// line that is refused, and a layouts file that cannot be read, go to
// `errors` (standard error), so that they never mix with output a script
// captures; so do all messages of --print-layouts, whose output is the
// layouts text. Everything else goes to `sink`.
int RunUnpack(const std::vector<std::string>& arguments, MessageSink& sink, MessageSink& errors);

// Unpacks each path in turn: a directory is walked for its ".dbc" files
// (leaving out the outputs of the packer, NAME.csv.dbc beside NAME.csv),
// anything else is unpacked as a file. A folder that cannot be listed,
// given or found below one given, is an error. Returns the exit status.
int UnpackPaths(const std::vector<std::string>& paths, const UnpackOptions& options,
                MessageSink& sink);

// Unpacks the DBC file at `dbcPath` to `dbcPath` + ".csv" and reports
// whether the round trip is exact. Returns whether the CSV file was written;
// nothing is written for a file that fails before that. With
// options.layoutsOut, prints its layouts line instead.
bool UnpackFile(const std::string& dbcPath, const UnpackOptions& options, MessageSink& sink);

}  // namespace dbcpack
