// Fuzz target for the field reader over arbitrary lines. The first byte
// chooses, bit by bit, which reader takes the next field; the rest is the
// line. Each read must leave a suffix of the line, shorter than before
// unless it reported an error or hit one of the two documented standstills
// (a lone comma for the token reader, an empty line for the string reader),
// and must agree with the byte-at-a-time reference in result, value, rest
// of line and message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "reference_dialect.h"
#include "table/dbc_table.h"
#include "table/field_reader.h"
#include "table/message_sink.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned choices = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* const inputEnd = input.data() + input.size();

  dbcpack::DbcTable table;
  table.fileName = "./fuzz.csv";
  table.lineNumber = 7;
  dbcpack::fuzz::RefContext context{table.fileName, table.lineNumber, 0};

  std::string_view line = input;
  std::string refLine(input);
  for (unsigned step = 0;; ++step) {
    table.fieldIndex = static_cast<std::int32_t>(step);
    context.fieldIndex = table.fieldIndex;
    const std::size_t before = line.size();
    bool progressed = true;
    if ((choices >> (step % 8)) & 1u) {
      std::string value, refValue, refMessages;
      dbcpack::StringSink messages;
      const bool ok = dbcpack::ReadQuotedString(table, line, value, messages);
      const bool refOk =
          dbcpack::fuzz::RefReadQuotedString(context, refLine, refValue, refMessages);
      Check(ok == refOk, "ReadQuotedString result differs from the reference");
      Check(messages.Text() == refMessages, "ReadQuotedString message differs");
      Check(ok == messages.Text().empty(), "an error without a message, or a message on success");
      if (!ok) break;
      Check(value == refValue, "ReadQuotedString value differs from the reference");
      Check(value.size() < before || before == 0, "value longer than the text it came from");
      progressed = line.size() < before;
      Check(progressed || before == 0, "ReadQuotedString made no progress");
    } else {
      std::string_view token = "unchanged";
      std::string refToken = "unchanged";
      const bool ok = dbcpack::NextToken(line, token);
      const bool refOk = dbcpack::fuzz::RefNextToken(refLine, refToken);
      Check(ok == refOk, "NextToken result differs from the reference");
      Check(ok == (before > 0), "NextToken fails only on an empty line");
      Check(token == refToken, "NextToken token differs from the reference");
      Check(token.find(',') == std::string_view::npos || !ok, "token holds a comma");
      progressed = line.size() < before;
      Check(progressed || before <= 1, "NextToken made no progress");
      Check(progressed || !ok || (line == "," && token.empty()),
            "NextToken stood still on something other than a lone comma");
    }
    Check(line == refLine, "rest of line differs from the reference");
    // An empty rest may point anywhere, even nowhere.
    Check(line.empty() || (line.data() >= input.data() && line.data() + line.size() == inputEnd),
          "rest of line is not a suffix of the input");
    if (!progressed) break;
  }
  return 0;
}
