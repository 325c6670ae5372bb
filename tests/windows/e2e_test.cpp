// What only Windows has, for real: share modes between processes, file names
// that ignore case, the program's own command-line rules, NUL, read-only files
// and a console.
#define _WIN32_WINNT 0x0A00
#define NTDDI_VERSION 0x0A000006  // pseudo consoles
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/run_korvella.h"

namespace korvella::testing {
namespace {

std::string CantOpen(const std::string& name) {
  return "Error: can't open file " + name + "\r\n" + kUsage;
}

TEST(ShareModes, AnInputHeldByAnotherProcess) {
  struct Case {
    const char* name;
    DWORD access;
    DWORD share;
    bool opens;
  };
  const Case cases[] = {
      {"held for writing", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {"held for reading without sharing", GENERIC_READ, 0, false},
      {"held for reading, sharing reading", GENERIC_READ, FILE_SHARE_READ, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Put("seven", "1234567");
    dir.Put("other", "1234567");
    const HANDLE held = CreateFileA((dir / "seven").string().c_str(), c.access, c.share, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (const auto& arguments :
         {std::vector<std::string>{"seven", "other"}, std::vector<std::string>{"other", "seven"}}) {
      const RunResult run = RunKorvella(dir, {.arguments = arguments});
      EXPECT_EQ(run.status, c.opens ? 0 : 1);
      EXPECT_EQ(run.output,
                c.opens ? ReportLines("7", kHundred, kHundred, kHundred) : CantOpen("seven"));
    }
    CloseHandle(held);
  }
}

TEST(Names, TwoSpellingsOfOneFileCompareItWithItself) {
  TempDir dir;
  dir.Put("a.bin", std::string(1000, 'k') + "xyz");
  const std::vector<std::string> spellings[] = {{"a.bin", "A.BIN"}, {".\\a.bin", "a.BIN"}};
  std::string log;
  for (const auto& names : spellings) {
    SCOPED_TRACE(names[1]);
    const RunResult run = RunKorvella(dir, {.arguments = names});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, ReportLines("1003", kHundred, kHundred, kHundred));
    log += EqualFilesLogLine(names[0], names[1], "1003");
  }
  EXPECT_EQ(dir.Get("korvella.log"), log);
}

TEST(CommandLine, SplitByTheProgramsOwnRules) {
  struct Case {
    const char* name;
    std::string tail;
    std::string output;
  };
  const Case cases[] = {
      // The C runtime would read \" as a quote inside the argument.
      {"a backslash before a quote is a plain byte", "\"sub\\\" seven", CantOpen("sub\\")},
      // ...and would expand the wildcard.
      {"no wildcard expansion", "* seven", CantOpen("*")},
      {"a doubled quote gives nothing", "a\"\"b seven", CantOpen("ab")},
      {"quoting starts and stops inside a token", "s\"ub\\mis\"sing seven",
       CantOpen("sub\\missing")},
      // A tab is no byte of a Windows file name.
      {"a tab inside quotes stays", "\"with\ttab\" seven", CantOpen("with\ttab")},
      {"two empty arguments", "\"\" \"\"",
       "Error: the same name in both.\r\n" + std::string(kUsage)},
      {"one argument", "seven", kUsage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Put("seven", "1234567");
    std::filesystem::create_directory(dir / "sub");
    const RunResult run = RunKorvella(dir, {.commandTail = c.tail});
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.status, 1);
  }
}

TEST(HostileInputs, SpecialNames) {
  TempDir dir;
  dir.Put("b", "0123456789");
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string output;
  };
  const Case cases[] = {
      {"NUL is empty", {"NUL", "b"}, kEmpty + kUsage},
      {"so is nul", {"b", "nul"}, kEmpty + kUsage},
      {"a directory with a trailing separator", {"b", "sub\\"}, CantOpen("sub\\")},
  };
  std::filesystem::create_directory(dir / "sub");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunKorvella(dir, {.arguments = c.arguments});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, c.output);
    EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
  }
}

TEST(Log, AReadOnlyLogEndsInTheFailureReportUntouched) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  dir.Put("korvella.log", "kept\r\n");
  const std::string log = (dir / "korvella.log").string();
  ASSERT_TRUE(SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_READONLY));
  const HANDLE probe =
      CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "this user may write read-only files (root under Wine)";
  }
  ExpectReportThenFailure(RunKorvella(dir, {.arguments = {"a", "b"}}), 5);
  EXPECT_EQ(dir.Get("korvella.log"), "kept\r\n");
}

// --- On a console ----------------------------------------------------------------

struct ConsoleRun {
  int status = -1;
  std::string lines;   // as the console shows them, one "\n" after each
  std::string during;  // the same, `snapshotMs` after the start
};

// Runs korvella on a console of its own (a pseudo console, which Wine runs
// without a display), through console_host, which reads the console back.
ConsoleRun RunOnConsole(const TempDir& dir, const std::vector<std::string>& arguments,
                        UINT codePage, DWORD snapshotMs = 0) {
  HANDLE inputRead = nullptr, inputWrite = nullptr, outputRead = nullptr, outputWrite = nullptr;
  EXPECT_TRUE(CreatePipe(&inputRead, &inputWrite, nullptr, 0));
  EXPECT_TRUE(CreatePipe(&outputRead, &outputWrite, nullptr, 0));
  HPCON console = nullptr;
  EXPECT_EQ(CreatePseudoConsole({120, 50}, inputRead, outputWrite, 0, &console), S_OK);
  // The console's own rendering is not looked at, but must be drained.
  std::thread drain([outputRead] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(outputRead, buffer, sizeof buffer, &got, nullptr) && got != 0) {
    }
  });

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  InitializeProcThreadAttributeList(list, 1, 0, &size);
  UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console,
                            nullptr, nullptr);
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = list;

  std::string host = KORVELLA_CONSOLE_HOST;
  std::replace(host.begin(), host.end(), '/', '\\');
  const std::string report = dir.Path().string() + ".console";
  std::string commandLine = "\"" + host + "\" \"" + report + "\" " + std::to_string(codePage) +
                            " " + std::to_string(snapshotMs) + " " +
                            KorvellaCommandLine({.arguments = arguments});
  PROCESS_INFORMATION process{};
  const std::string directory = dir.Path().string();
  EXPECT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                             EXTENDED_STARTUPINFO_PRESENT, nullptr, directory.c_str(),
                             &startup.StartupInfo, &process));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD hostStatus = 0;
  GetExitCodeProcess(process.hProcess, &hostStatus);
  EXPECT_EQ(hostStatus, 0u) << "console_host failed";
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  ClosePseudoConsole(console);
  CloseHandle(inputRead);
  CloseHandle(inputWrite);
  CloseHandle(outputWrite);
  drain.join();
  CloseHandle(outputRead);
  DeleteProcThreadAttributeList(list);

  ConsoleRun run;
  const auto read = [](const std::string& path) {
    std::string text;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
      char buffer[4096];
      std::size_t got = 0;
      while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
      std::fclose(in);
    }
    std::remove(path.c_str());
    return text;
  };
  const std::string text = read(report);
  const std::size_t firstLine = text.find('\n');
  if (firstLine != std::string::npos) {
    run.status = std::stoi(text.substr(0, firstLine));
    run.lines = text.substr(firstLine + 1);
  }
  if (snapshotMs > 0) run.during = read(report + ".during");
  return run;
}

// The lines a console shows for `output`: CR LF ends each.
std::string Shown(std::string output) {
  std::string lines;
  for (std::size_t at; (at = output.find("\r\n")) != std::string::npos;) {
    lines += output.substr(0, at) + "\n";
    output.erase(0, at + 2);
  }
  return lines + output + "\n";  // the cursor's line
}

TEST(Console, ARunShowsWhatItWouldWriteToAFile) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool logDirectory;
  };
  const Case cases[] = {
      {"a complete run", {"ten", "seven"}, false},
      {"a message", {"ten", "nope"}, false},
      // The same locations and levels: a report is no shorter on a console when
      // it has fewer than nine levels.
      {"a failure report", {"ten", "seven"}, true},
  };
  for (const UINT codePage : {437u, 65001u}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", code page " + std::to_string(codePage));
      TempDir dir;
      dir.Put("ten", "0123456789");
      dir.Put("seven", "0123456");
      if (c.logDirectory) std::filesystem::create_directory(dir / "korvella.log");
      const RunResult redirected = RunKorvella(dir, {.arguments = c.arguments});
      const ConsoleRun onConsole = RunOnConsole(dir, c.arguments, codePage);
      EXPECT_EQ(onConsole.status, redirected.status);
      EXPECT_EQ(onConsole.lines, Shown(redirected.output));
    }
  }
}

TEST(Console, EachLineIsShownWhenItEnds) {
  // While the run waits for the log, its report is on the console already; a
  // file receives it only at the end.
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  dir.Put("korvella.log", "");
  auto held = std::make_unique<HeldFile>(dir / "korvella.log");
  // Wide margins around the snapshot: Wine may take seconds to start the program,
  // and the run gives up on the log after 10.
  std::thread release([&held] {
    std::this_thread::sleep_for(std::chrono::seconds(8));
    held->Release();
  });
  const ConsoleRun run = RunOnConsole(dir, {"a", "b"}, 0, 5000);
  release.join();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.during, Shown(ReportLines("3", kHundred, kHundred, kHundred)));
  EXPECT_EQ(run.lines, run.during);
  EXPECT_EQ(dir.Get("korvella.log"), EqualFilesLogLine("a", "b", "3"));
}

}  // namespace
}  // namespace korvella::testing
