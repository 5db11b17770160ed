// The command line of dbcunpack, read apart from the run it asks for:
// `dbcunpack [--types LIST | --layouts FILE] [--force] PATH...`,
// `dbcunpack [--layouts FILE] --print-layouts PATH...`,
// `dbcunpack --update-layouts FILE PATH...`, `--help`, `--version`; and the
// layouts file it names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/unpack.h"
#include "platform/platform.h"
#include "table/message_sink.h"

namespace dbcpack {

struct UnpackCommandLine {
  UnpackOptions options;
  std::vector<std::string> paths;
  bool typesSeen = false;
  bool layoutsSeen = false;
  bool help = false;
  bool version = false;
};

// The short usage, for a refused command line, and the whole help.
std::string_view UnpackUsage();
std::string_view UnpackHelp();

// Reads `arguments` (argv[0] left out); options may stand anywhere among
// the paths, until "--". Returns false after one error line on `errors`.
bool ParseUnpackCommandLine(const std::vector<std::string>& arguments,
                            UnpackCommandLine& commandLine, MessageSink& errors);

// Reads the layouts file options.layoutsPath names, if any, into
// options.layouts, and its text into options.layoutsText. For
// --update-layouts a file that does not exist yet is none. Returns false
// after an error on `errors` naming the file (and the line, for a malformed
// one): an empty file, one that standard output goes to, or one in UTF-16
// is refused, since its lines are lost or cannot be read.
bool ReadLayoutsFile(UnpackOptions& options, MessageSink& errors);

}  // namespace dbcpack
