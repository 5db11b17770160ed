// printf-style message formatting on top of a byte sink.
#include "table/message_sink.h"

#include <cstdarg>
#include <vector>

#include "platform/platform.h"

namespace dbcpack {

// printf-style on purpose: the format attribute in the header has the
// compiler check every message's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void MessageSink::Print(const char* format, ...) {
  char small[512];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    va_end(again);
    Write(std::string_view(small, static_cast<std::size_t>(length)));
    return;
  }
  // Messages quote paths and header entries, which can be long.
  std::vector<char> large(static_cast<std::size_t>(length) + 1);
  // The same format and arguments: the same length as measured above.
  (void)std::vsnprintf(large.data(), large.size(), format, again);
  va_end(again);
  Write(std::string_view(large.data(), static_cast<std::size_t>(length)));
}

// Standard output is the only channel the converter has: a failure there
// has nowhere to be reported, and the batch goes on regardless.
void StreamSink::Write(std::string_view text) {
  (void)std::fwrite(text.data(), 1, text.size(), stream_);
}

void StreamSink::Flush() { (void)std::fflush(stream_); }

void IntactOnlySink::Write(std::string_view text) {
  if (contents_.Intact()) out_.Write(text);
}

}  // namespace dbcpack
