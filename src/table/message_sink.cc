// printf-style message formatting on top of a byte sink.
#include "table/message_sink.h"

#include <cstdarg>
#include <vector>

namespace dbcpack {

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
  std::vsnprintf(large.data(), large.size(), format, again);
  va_end(again);
  Write(std::string_view(large.data(), static_cast<std::size_t>(length)));
}

void StreamSink::Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream_); }

void StreamSink::Flush() { std::fflush(stream_); }

}  // namespace dbcpack
