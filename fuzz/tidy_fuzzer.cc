// Fuzz target for the tidy of a table a spreadsheet saved: arbitrary bytes
// as a CSV file's content. A tidy that succeeds must give text that the
// loader reads (the tidy checks that itself) and that is tidy already: a
// second tidy changes nothing and says nothing but the same warnings. A
// refusal must end in exactly one error line; every message is one line.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "table/message_sink.h"
#include "table/spreadsheet_tidy.h"

namespace {

using dbcpack::fuzz::Check;

// Every message a line of its own that starts with `prefix`, but the last,
// which may start with "ERROR: " when `errorLast`.
void CheckMessages(const std::string& text, bool errorLast) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    Check(end != std::string::npos, "a message does not end in a line feed", text);
    const std::string_view line(text.data() + at, end - at);
    const bool last = end + 1 == text.size();
    const bool expected =
        line.starts_with("WARNING: ") || (last && errorLast && line.starts_with("ERROR: "));
    Check(expected, "an unexpected message", text);
    at = end + 1;
  }
  if (errorLast)
    Check(text.ends_with("\n") && text.find("ERROR: ") != std::string::npos,
          "a refusal without its error", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string tidied;
  dbcpack::TidyChanges changes;
  dbcpack::StringSink sink;
  const bool ok = dbcpack::TidyCsv(input, "t.csv", tidied, changes, sink);
  CheckMessages(sink.Text(), !ok);
  if (!ok) return 0;
  Check(!tidied.empty() && tidied.back() == '\n', "the tidied text does not end in a line feed");
  std::string again;
  dbcpack::StringSink secondSink;
  Check(dbcpack::TidyCsv(tidied, "t.csv", again, changes, secondSink), "the tidied text is refused",
        tidied + "\n" + secondSink.Text());
  Check(again == tidied, "a second tidy changes the text", tidied + "\n---\n" + again);
  CheckMessages(secondSink.Text(), false);
  return 0;
}
