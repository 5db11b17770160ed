// End-to-end tests of dbcpack.exe (and dbcunpack.exe, dbctidy.exe) on
// Windows: the real programs started with CreateProcessW in a scratch
// folder, their standard output captured through a pipe, and the files left
// checked byte for byte. The conversions run without a console
// (DETACHED_PROCESS), as in a CI runner, so the programs never wait for a
// key; the key waits have tests of their own that share a console with the
// program and type into it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/batch.h"
#include "table/message_sink.h"
#include "test_util.h"

namespace dbcpack {
namespace {

namespace fs = std::filesystem;
using testing::DbcBytes;
using testing::Printable;
using testing::TempDir;

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(
      static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// A path from UTF-8 bytes; the narrow std::filesystem constructor would
// read them in the ANSI code page instead.
fs::path Utf8Path(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void WriteUtf8File(const std::string& path, std::string_view contents) {
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string ReadUtf8File(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RunResult {
  std::string output;
  std::string errors;
  DWORD exitCode = 0xFFFFFFFF;
  bool timedOut = false;
};

// Drains one pipe into a string until the writer closes it.
void Drain(HANDLE pipe, std::string* text) {
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text->append(buffer, got);
}

// `binary` and `arguments`, each quoted (none of them holds a quote or ends
// in a backslash).
std::wstring CommandLine(const char* binary, const std::vector<std::string>& arguments) {
  std::wstring commandLine = L"\"" + Wide(binary) + L"\"";
  for (const std::string& argument : arguments) commandLine += L" \"" + Wide(argument) + L"\"";
  return commandLine;
}

RunResult RunProgram(const char* binary, const std::vector<std::string>& arguments,
                     const std::string& directory, DWORD timeoutMs = 60000) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) return result;
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::wstring commandLine = CommandLine(binary, arguments);
  const std::wstring workingDirectory = Wide(directory);
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, nullptr,
                                        workingDirectory.c_str(), &startup, &process);
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  ::CloseHandle(nul);
  if (started) {
    std::thread errors(Drain, errRead, &result.errors);
    std::thread output(Drain, outRead, &result.output);
    if (::WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
      result.timedOut = true;
      ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, INFINITE);
    }
    output.join();
    errors.join();
    ::GetExitCodeProcess(process.hProcess, &result.exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(outRead);
  ::CloseHandle(errRead);
  return result;
}

RunResult RunDbcpack(const std::string& directory) {
  return RunProgram(DBCPACK_BINARY, {}, directory);
}

std::string Banner() {
  StringSink sink;
  PrintBanner(sink);
  return sink.Text();
}

std::string Converted(const std::string& path) { return testing::ConvertedMessages(path); }

// The listing order is the file system's, so each file's messages are
// looked for as one block, in any order, before the banner that ends the
// output.
void ExpectBlocksThenBanner(std::string output, const std::vector<std::string>& blocks) {
  const std::string banner = Banner();
  ASSERT_GE(output.size(), banner.size()) << Printable(output);
  EXPECT_EQ(output.substr(output.size() - banner.size()), banner);
  output.resize(output.size() - banner.size());
  for (const std::string& block : blocks) {
    const std::size_t at = output.find(block);
    ASSERT_NE(at, std::string::npos) << "missing:\n" << block << "in:\n" << output;
    output.erase(at, block.size());
  }
  EXPECT_EQ(output, "") << "unexpected messages";
}

TEST(WindowsEndToEndTest, ConvertsATreeWithUtf8NamesAndPlainLineFeeds) {
  TempDir dir;
  const std::string root = dir.Path();
  fs::create_directory(Utf8Path(root + "/sub"));
  WriteUtf8File(root + "/items.csv", "int,string,float\n1,\"Sword\",2.5\n2,\"\",0\n");
  // "ünï.csv" below a subdirectory, holding a string that is UTF-8 too.
  WriteUtf8File(root + "/sub/\xC3\xBCn\xC3\xAF.csv", "int,string\r\n7,\"\xC3\x9F\"\r\n");
  WriteUtf8File(root + "/sub/bad.csv", "int,int\n1\n");
  WriteUtf8File(root + "/sub/notes.txt", "int\n1\n");
  WriteUtf8File(root + "/UPPER.CSV", "int\n1\n");

  const RunResult run = RunDbcpack(root);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.errors, "");
  // The same bytes as on Linux: "\n" alone, never "\r\n".
  EXPECT_EQ(run.output.find('\r'), std::string::npos) << Printable(run.output);
  ExpectBlocksThenBanner(
      run.output,
      {Converted("./items.csv"), Converted("./sub/\xC3\xBCn\xC3\xAF.csv"),
       "Loading file './sub/bad.csv'.\nERROR: './sub/bad.csv': Expected '2' fields not '1' at line "
       "'2'.\n"});

  EXPECT_EQ(Printable(ReadUtf8File(root + "/items.csv.dbc")),
            Printable(DbcBytes()
                          .Header(2, 3, 12, 7)
                          .Int(1)
                          .Int(1)
                          .Float(2.5f)
                          .Int(2)
                          .Int(0)
                          .Float(0.0f)
                          .Raw(std::string_view("\0Sword\0", 7))
                          .Str()));
  EXPECT_EQ(Printable(ReadUtf8File(root + "/sub/\xC3\xBCn\xC3\xAF.csv.dbc")),
            Printable(DbcBytes()
                          .Header(1, 2, 8, 4)
                          .Int(7)
                          .Int(1)
                          .Raw(std::string_view("\0\xC3\x9F\0", 4))
                          .Str()));
  EXPECT_EQ(ReadUtf8File(root + "/sub/bad.csv.dbc"), "<missing>");
  EXPECT_EQ(ReadUtf8File(root + "/UPPER.CSV.dbc"), "<missing>");
}

TEST(WindowsEndToEndTest, EmptyTreePrintsTheMessageThenTheBanner) {
  TempDir dir;
  fs::create_directory(Utf8Path(dir / "empty"));
  const RunResult run = RunDbcpack(dir.Path());
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "No CSV files found in current directory.\n" + Banner());
}

TEST(WindowsEndToEndTest, ReplacesAnEarlierOutputAndLeavesNothingElse) {
  TempDir dir;
  WriteUtf8File(dir / "t.csv", "byte\n300\n");
  WriteUtf8File(dir / "t.csv.dbc", std::string(1000, 'x'));
  const RunResult run = RunDbcpack(dir.Path());
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.output, Converted("./t.csv") + Banner());
  EXPECT_EQ(Printable(ReadUtf8File(dir / "t.csv.dbc")),
            Printable(DbcBytes().Header(1, 1, 1, 1).Byte(44).Raw(std::string(1, '\0')).Str()));
  EXPECT_EQ(testing::ListNames(dir.Path()), "t.csv t.csv.dbc");
}

// The arguments arrive in UTF-16 and name files in UTF-8 all the way
// through; the output is the Linux build's, byte for byte.
TEST(WindowsEndToEndTest, UnpacksTheFilesNamedOnTheCommandLine) {
  TempDir dir;
  const std::string name = "\xC3\xBCn\xC3\xAF.dbc";  // "ünï.dbc"
  DbcBytes table;
  table.Header(1, 2, 8, 4).Int(100000).Int(1).Raw(std::string_view("\0\xC3\x9F\0", 4));
  WriteUtf8File(dir / name, table.Str());
  const RunResult run = RunProgram(DBCUNPACK_BINARY, {name, "missing.dbc"}, dir.Path());
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.errors, "");
  const std::string unpacked =
      "Loading file '" + name + "'.\nField types of '" + name +
      "' (guessed; give --types to correct them): int,string\nCSV file created '" + name +
      ".csv'.\nRound trip exact for '" + name + "'.\n";
  EXPECT_EQ(Printable(run.output.substr(0, unpacked.size())), Printable(unpacked));
  // The reason is the system's, in its language: one line, one full stop;
  // the summary follows it.
  const std::string summary =
      "Unpacked '2' files: '1' round trip exact, '0' not exact, '1' failed.\n"
      "Failed: 'missing.dbc'\n";
  EXPECT_TRUE(run.output.ends_with(summary)) << Printable(run.output);
  const std::size_t end = run.output.size() >= unpacked.size() + summary.size()
                              ? run.output.size() - summary.size()
                              : 0;
  const std::string missing =
      run.output.substr(std::min(unpacked.size(), end), end - std::min(unpacked.size(), end));
  const std::string opening = "ERROR: Can't open file 'missing.dbc': ";
  EXPECT_EQ(missing.substr(0, opening.size()), opening) << Printable(run.output);
  EXPECT_GT(missing.size(), opening.size() + 2);
  EXPECT_EQ(missing.find_first_of("\r\n"), missing.size() - 1) << Printable(missing);
  EXPECT_TRUE(missing.ends_with(".\n") && !missing.ends_with("..\n")) << Printable(missing);
  EXPECT_EQ(ReadUtf8File(dir / (name + ".csv")).substr(0, 11), "int,string\n");

  // A refused command line goes to standard error, in the same bytes.
  const RunResult refused = RunProgram(DBCUNPACK_BINARY, {"--frob"}, dir.Path());
  EXPECT_EQ(refused.exitCode, 2u);
  EXPECT_EQ(refused.output, "");
  EXPECT_EQ(Printable(refused.errors),
            Printable("ERROR: Unknown option '--frob'.\n"
                      "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
                      "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
                      "       dbcunpack --update-layouts FILE PATH...\n"
                      "Writes FILE.csv beside each DBC FILE given, or found in a folder given.\n"
                      "Give --help for the options and the workflow.\n"));

  // The text as a spreadsheet saves it, tidied in place: the file that
  // stands there is replaced.
  WriteUtf8File(dir / (name + ".csv"), "\"Int\",\"String\"\r\n100000,\"\xC3\x9F\"\r\n");
  const RunResult tidied = RunProgram(DBCTIDY_BINARY, {name + ".csv"}, dir.Path());
  EXPECT_EQ(tidied.exitCode, 0u);
  EXPECT_EQ(Printable(tidied.output),
            Printable("Tidied '" + name + ".csv': first line mended, line ends made LF.\n"));
  EXPECT_EQ(Printable(ReadUtf8File(dir / (name + ".csv"))),
            Printable("int,string\n100000,\"\xC3\x9F\"\n"));
}

// A folder is walked as on Linux: ".dbc" in any case and nothing that only
// starts with it, the files in byte order of their paths whatever order
// the listing gives them in, and the summary at the end.
TEST(WindowsEndToEndTest, UnpacksAFolderInTheOrderOfItsPaths) {
  TempDir dir;
  fs::create_directories(Utf8Path(dir / "data/b"));
  const std::string small = DbcBytes().Header(1, 1, 4, 1).Int(100000).Raw({"\0", 1}).Str();
  for (const char* name : {"data/z.dbc", "data/b/items.dbc", "data/EFFECTS.DBC", "data/t.dbcx"}) {
    WriteUtf8File(dir / name, small);
  }
  WriteUtf8File(dir / "data/a.dbc", std::string("WDBC\x01\0\0\0", 8));
  const RunResult run = RunProgram(DBCUNPACK_BINARY, {"data"}, dir.Path());
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.errors, "");
  const auto unpacked = [](const std::string& dbc) {
    return "Loading file '" + dbc + "'.\nField types of '" + dbc +
           "' (guessed; give a layouts file to correct them): int\nCSV file created '" + dbc +
           ".csv'.\nRound trip exact for '" + dbc + "'.\n";
  };
  EXPECT_EQ(Printable(run.output),
            Printable(unpacked("data/EFFECTS.DBC") +
                      "Loading file 'data/a.dbc'.\nERROR: 'data/a.dbc': File is shorter than a "
                      "DBC header ('8' of '20' bytes).\n" +
                      unpacked("data/b/items.dbc") + unpacked("data/z.dbc") +
                      "Unpacked '4' files: '3' round trips exact, '0' not exact, '1' failed.\n"
                      "Failed: 'data/a.dbc'\n"));
}

// ---- The key wait ------------------------------------------------------

INPUT_RECORD KeyDown(WORD virtualKey, wchar_t character, DWORD controlKeys = 0) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
  record.Event.KeyEvent.uChar.UnicodeChar = character;
  record.Event.KeyEvent.dwControlKeyState = controlKeys;
  return record;
}

INPUT_RECORD KeyUp(INPUT_RECORD record) {
  record.Event.KeyEvent.bKeyDown = FALSE;
  return record;
}

bool Type(HANDLE console, std::initializer_list<INPUT_RECORD> records) {
  DWORD written = 0;
  return ::WriteConsoleInputW(console, records.begin(), static_cast<DWORD>(records.size()),
                              &written) &&
         written == records.size();
}

bool Exited(HANDLE process, DWORD waitMs) {
  return ::WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
}

// The console's line that holds the cursor, up to the cursor: what a
// program wrote since the last line break.
std::wstring LineBeforeCursor(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(screen, &info)) return L"<no screen>";
  std::wstring line(static_cast<std::size_t>(info.dwCursorPosition.X), L'\0');
  DWORD read = 0;
  const COORD start = {0, info.dwCursorPosition.Y};
  if (!line.empty() && !::ReadConsoleOutputCharacterW(
                           screen, line.data(), static_cast<DWORD>(line.size()), start, &read)) {
    return L"<unreadable>";
  }
  line.resize(read);
  return line;
}

std::string Narrow(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

HANDLE OpenConsole(const wchar_t* name) {
  return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// A program started on this test's console, with its standard input from
// NUL (which must not end the wait) and its standard output through a pipe,
// read until it ends with `last`: the program flushes its output just
// before it begins to wait.
struct Waiting {
  PROCESS_INFORMATION process{};
  HANDLE output = INVALID_HANDLE_VALUE;
  std::string text;

  bool Start(const char* binary, const std::vector<std::string>& arguments,
             const std::string& directory, const std::string& last, bool leaveConsole) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outWrite;
    if (!::CreatePipe(&output, &outWrite, &inherit, 0)) return false;
    ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    std::wstring commandLine = CommandLine(binary, arguments);
    const std::wstring workingDirectory = Wide(directory);
    const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, workingDirectory.c_str(), &startup, &process);
    // Left alone on the console, the program takes it for one opened for it.
    if (started && leaveConsole) ::FreeConsole();
    ::CloseHandle(outWrite);
    ::CloseHandle(nul);
    if (!started) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!text.ends_with(last)) {
      DWORD available = 0;
      if (::PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (::ReadFile(output, buffer, sizeof buffer, &got, nullptr)) text.append(buffer, got);
        continue;
      }
      if (Exited(process.hProcess, 20) || std::chrono::steady_clock::now() > deadline) break;
    }
    return true;
  }

  // Types `key` and checks that it ends the wait, with status 0, and that
  // the prompt is wiped: the cursor back at the start of its line.
  void EndWith(HANDLE console, HANDLE screen, INPUT_RECORD key) {
    EXPECT_TRUE(Type(console, {key, KeyUp(key)}));
    const bool ended = Exited(process.hProcess, 10000);
    EXPECT_TRUE(ended) << "the key did not end the wait";
    if (!ended) {
      ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD exitCode = 0xFFFFFFFF;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(Narrow(LineBeforeCursor(screen)), "");
  }

  ~Waiting() {
    if (process.hProcess != nullptr) {
      ::TerminateProcess(process.hProcess, 1);
      ::CloseHandle(process.hThread);
      ::CloseHandle(process.hProcess);
    }
    if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
  }
};

// The keys are written into the console's input buffer, as a keyboard puts
// them there. Under ctest the test has no console of its own: it gets one
// here. The programs do not wait in a console without a window, by design
// (no one can type into it), and Wine without a display makes only such
// consoles, so there these tests are skipped. Wine does give a program
// started in a terminal a console that counts as having a window; the cross
// build runs them that way (windows_key_wait_tty.sh).
class WindowsKeyWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    allocated_ = ::AllocConsole() != 0;
    if (::GetConsoleWindow() == nullptr) {
      GTEST_SKIP() << "no console window here (Wine without a display?): the program does not wait";
    }
  }
  void TearDown() override {
    if (allocated_) ::FreeConsole();
  }

 private:
  bool allocated_ = false;
};

// Ctrl+C is left out: typed into a shared console it would stop this test
// too.
TEST_F(WindowsKeyWaitTest, ModifiersAloneDoNotEndTheWaitOtherKeysDo) {
  const HANDLE console = OpenConsole(L"CONIN$");
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  const HANDLE screen = OpenConsole(L"CONOUT$");
  ASSERT_NE(screen, INVALID_HANDLE_VALUE);
  struct Case {
    const char* name;
    INPUT_RECORD key;
  } const cases[] = {
      {"letter", KeyDown('A', L'a')},
      {"Enter", KeyDown(VK_RETURN, L'\r')},
      {"arrow", KeyDown(VK_UP, 0)},
      {"function key", KeyDown(VK_F5, 0)},
  };
  const std::string banner = Banner();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Waiting program;
    ASSERT_TRUE(program.Start(DBCPACK_BINARY, {}, dir.Path(), banner, false));
    EXPECT_EQ(program.text, "No CSV files found in current directory.\n" + banner);
    // Keys typed before the wait began are thrown away; give it time to
    // begin. The prompt is on the console, not in the output.
    EXPECT_FALSE(Exited(program.process.hProcess, 500)) << "did not wait";
    EXPECT_EQ(Narrow(LineBeforeCursor(screen)), "Press any key to exit.");
    for (const WORD modifier : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_CAPITAL, VK_NUMLOCK}) {
      const INPUT_RECORD key = KeyDown(modifier, 0);
      EXPECT_TRUE(Type(console, {key, KeyUp(key)}));
    }
    EXPECT_FALSE(Exited(program.process.hProcess, 500)) << "a modifier alone ended the wait";
    program.EndWith(console, screen, c.key);
  }
  ::CloseHandle(screen);
  ::CloseHandle(console);
}

// dbcunpack waits only on a console of its own, as when files are dropped
// on it: this test leaves the console to it, and comes back once it waits.
TEST_F(WindowsKeyWaitTest, UnpackPromptsOnItsOwnConsoleAlone) {
  TempDir dir;
  WriteUtf8File(dir / "t.dbc", DbcBytes().Header(1, 1, 4, 1).Int(100000).Raw({"\0", 1}).Str());
  const std::string messages =
      "Loading file 't.dbc'.\nField types of 't.dbc' (guessed; give --types to correct them): "
      "int\nCSV file created 't.dbc.csv'.\nRound trip exact for 't.dbc'.\n";
  Waiting program;
  ASSERT_TRUE(program.Start(DBCUNPACK_BINARY, {"t.dbc"}, dir.Path(), messages, true));
  EXPECT_FALSE(Exited(program.process.hProcess, 500)) << "did not wait";
  ASSERT_TRUE(::AttachConsole(program.process.dwProcessId));
  const HANDLE console = OpenConsole(L"CONIN$");
  const HANDLE screen = OpenConsole(L"CONOUT$");
  EXPECT_EQ(Narrow(LineBeforeCursor(screen)), "Press a key to close this window.");
  program.EndWith(console, screen, KeyDown('A', L'a'));
  Drain(program.output, &program.text);
  EXPECT_EQ(program.text, messages);
  ::CloseHandle(screen);
  ::CloseHandle(console);
}

}  // namespace
}  // namespace dbcpack
