// printf-style message formatting on top of a byte sink.
#include "table/message_sink.h"

#include <cerrno>
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

std::string CountOf(std::uint64_t count, std::string_view one, std::string_view many) {
  std::string text(1, '\'');
  text.append(std::to_string(count)).append("' ");
  return text.append(count == 1 ? one : many);
}

// For dbcpack, standard output is the only channel it has: a failure there
// has nowhere to be reported, and the batch goes on regardless; the program
// decides what a noted failure means.
void StreamSink::Write(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) NoteFailure();
}

void StreamSink::Flush() {
  if (std::fflush(stream_) != 0) NoteFailure();
}

void StreamSink::NoteFailure() {
  if (failure_.empty()) failure_ = platform::ErrorNumberText(errno);
}

void IntactOnlySink::Write(std::string_view text) {
  if (contents_.Intact()) out_.Write(text);
}

}  // namespace dbcpack
