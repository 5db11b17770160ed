// The batch run: find every table, convert each in turn, print the banner.
#pragma once

#include "table/message_sink.h"

namespace dbcpack {

// Converts every CSV file below the working directory, then prints the
// banner. The caller waits for a key afterwards.
void RunBatch(MessageSink& sink);

// The closing banner: an empty line, the title, credits and version.
void PrintBanner(MessageSink& sink);

}  // namespace dbcpack
