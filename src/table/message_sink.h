// Where the converter's one-line messages go. Operations print their own
// progress, warnings and errors; they print through a sink so that tests can
// capture the exact text instead of scraping standard output.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace dbcpack {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Write(std::string_view text) = 0;

  // printf-style formatting; every message is one line ending in "\n".
  void Print(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
};

// Writes to a C stream, standard output in the program.
class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}
  void Write(std::string_view text) override;
  void Flush();

 private:
  std::FILE* stream_;
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

}  // namespace dbcpack
