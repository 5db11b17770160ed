// dbctidy: CSV tables saved by a spreadsheet, rewritten in place into the
// dialect dbcpack reads. Its command line, its run over the paths given and
// the road of one file; all print through a sink.
#pragma once

#include <string>
#include <vector>

#include "app/file_run.h"
#include "table/message_sink.h"

namespace dbcpack {

inline constexpr int kTidyAllDone = 0;     // every file was tidied, or tidy already
inline constexpr int kTidySomeFailed = 1;  // at least one file or folder failed
inline constexpr int kTidyBadCommand = 2;  // the command line was refused

// The whole program but the key wait: reads `arguments` (argv[0] left
// out) as `dbctidy PATH...`, `--help` or `--version`, tidies every PATH
// and returns the exit status. A refused command line goes to `errors`
// (standard error) with the usage; everything else to `sink`.
int RunTidy(const std::vector<std::string>& arguments, MessageSink& sink, MessageSink& errors);

// Tidies the CSV file at `path` in place: the file is replaced only by a
// complete text that the loader reads, and left as it is when it is tidy
// already or refused. Failed after an error; doubtful when a warning asks
// for a look at the file.
FileOutcome TidyFile(const std::string& path, MessageSink& sink);

}  // namespace dbcpack
