// Where the converter's one-line messages go. Operations print their own
// progress, warnings and errors; they print through a sink so that tests can
// capture the exact text instead of scraping standard output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace dbcpack {

namespace platform {
class FileContents;
}

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Write(std::string_view text) = 0;
  // Sends on what is held back, for a sink that holds any back.
  virtual void Flush() {}
  // The system's words for the first write or flush that failed, for a
  // sink that can lose what it is given; empty while nothing was lost.
  virtual std::string Failure() const { return {}; }

  // printf-style formatting; every message is one line ending in "\n".
  void Print(const char* format, ...)
#if defined(__MINGW32__)
      // MinGW's C++ library formats as C99 does (%zu, %lld), not as the
      // system's msvcrt; the check must follow the formatter in use.
      __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
};

// A count as messages quote it, with its noun in the number it takes:
// "'1' record", "'2' records".
std::string CountOf(std::uint64_t count, std::string_view one, std::string_view many);

// Writes to a C stream, standard output in the program. The first write or
// flush that fails is remembered, so that a program for which lost output
// is lost work (a text meant to be saved) can stop and say so.
class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}
  void Write(std::string_view text) override;
  void Flush() override;
  std::string Failure() const override { return failure_; }

 private:
  void NoteFailure();

  std::FILE* stream_;
  std::string failure_;
};

// Collects everything written, for tests.
class StringSink final : public MessageSink {
 public:
  void Write(std::string_view text) override { text_.append(text); }
  const std::string& Text() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

// Passes messages on only while a file's bytes are still the file's: once a
// mapped file was cut short under its reader, what would be said of the
// zero-filled rest is not about the file, and only the failed read is.
class IntactOnlySink final : public MessageSink {
 public:
  IntactOnlySink(const platform::FileContents& contents, MessageSink& out)
      : contents_(contents), out_(out) {}
  void Write(std::string_view text) override;

 private:
  const platform::FileContents& contents_;
  MessageSink& out_;
};

}  // namespace dbcpack
