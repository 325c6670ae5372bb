// The Windows platform layer on its own: the floating-point setting and its
// traps, threads, the kinds of handles, the log's hold on console events.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "process/failure.h"

namespace korvella {
namespace {

volatile long double zero = 0;
volatile long double huge = 1e4000L;
volatile int integerZero = 0;

void TrapAfter(long double (*operation)()) {
  StartRun();
  volatile long double result = operation();
  // x87 reports a pending exception at the next floating-point instruction.
  result = result + 1;
  EndRun(0);
}

TEST(StartRun, SetsTheFloatingPointControlWord) {
  EXPECT_EXIT(
      {
        StartRun();
        EndRun((platform::FloatingPointControlWord() & 0x1F3F) == 0x1332 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(StartThread, TheThreadHasTheProcessSetting) {
  // A new thread starts with the system's x87 setting, a 53-bit significand.
  EXPECT_EXIT(
      {
        StartRun();
        std::uint16_t word = 0;
        platform::Thread thread;
        const bool started = platform::StartThread(
            thread,
            [](void* out) {
              *static_cast<std::uint16_t*>(out) = platform::FloatingPointControlWord();
            },
            &word);
        if (started) platform::JoinThread(thread);
        EndRun(started && (word & 0x1F3F) == 0x1332 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FloatingPointTraps, EndTheRunWithTheirCode) {
  EXPECT_EXIT(TrapAfter([]() -> long double { return 1.0L / zero; }),
              ::testing::ExitedWithCode(200), "");
  EXPECT_EXIT(TrapAfter([]() -> long double { return huge * huge; }),
              ::testing::ExitedWithCode(205), "");
  EXPECT_EXIT(TrapAfter([]() -> long double { return zero / zero; }),
              ::testing::ExitedWithCode(207), "");
  EXPECT_EXIT(TrapAfter([]() -> long double { return 7 / integerZero; }),
              ::testing::ExitedWithCode(200), "");
}

// Returns with the division's exception still pending: the x87 reports it at the
// caller's next x87 instruction.
__attribute__((noinline)) long double DivideWithoutStoring(long double a, long double b) {
  return a / b;
}

__attribute__((noinline)) void DivideByZeroAndStore() {
  volatile long double result = DivideWithoutStoring(1, zero);
  (void)result;
}

// Exits with 0 when the trap's location lies inside DivideWithoutStoring, as the
// unwind tables bound it; 1 when it does not.
void ExitByLocation(std::uint16_t, const platform::FailureSite& site) {
  DWORD64 base = 0;
  const auto* function = RtlLookupFunctionEntry(
      reinterpret_cast<DWORD64>(reinterpret_cast<const void*>(&DivideWithoutStoring)), &base,
      nullptr);
  const auto offset = platform::ModuleOffset(site.location);
  const bool inside =
      function != nullptr && offset >= function->BeginAddress && offset < function->EndAddress;
  platform::EndProcess(inside ? 0 : 1);
}

TEST(FloatingPointTraps, NameTheInstructionThatRaisedTheException) {
  EXPECT_EXIT(
      {
        platform::StartProcess(ExitByLocation);
        DivideByZeroAndStore();
        platform::EndProcess(2);
      },
      ::testing::ExitedWithCode(0), "");
}

// The same in a death test's child as in the test.
std::string TempPath(const char* name) {
  char base[MAX_PATH + 1];
  GetTempPathA(sizeof base, base);
  return std::string(base) + "korvella-platform-" + name;
}

std::string ReadFileBytes(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  std::string bytes(4096, '\0');
  DWORD got = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

TEST(Handles, KindsAndSizes) {
  const std::string path = TempPath("sizes");
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  DWORD written = 0;
  WriteFile(file, "0123456789", 10, &written, nullptr);
  SetFilePointer(file, 4, nullptr, FILE_BEGIN);
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  const HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  struct Case {
    const char* name;
    HANDLE handle;
    bool characterDevice;
    std::uint64_t size;
    std::uint16_t error;
  };
  const Case cases[] = {
      // The size is the end; the position stays where it was.
      {"a file", file, false, 10, 0},
      // It accepts the moves and measures 0, as /dev/null does on Linux.
      {"NUL", nul, true, 0, 0},
      // It refuses them: a seek error, as on Linux.
      {"a pipe", reader, false, 0, 156},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::FileHandle handle{reinterpret_cast<std::uintptr_t>(c.handle)};
    EXPECT_EQ(platform::IsCharacterDevice(handle), c.characterDevice);
    EXPECT_FALSE(platform::IsTerminal(handle));
    EXPECT_EQ(platform::QueryFileSize(handle), c.size);
    EXPECT_EQ(platform::TakeIoError(), c.error);
  }
  LARGE_INTEGER position{};
  SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT);
  EXPECT_EQ(position.QuadPart, 4);
  CloseHandle(nul);
  CloseHandle(reader);
  CloseHandle(writer);
  CloseHandle(file);
}

TEST(Handles, APipeWhoseWriterHasGoneIsAtItsEnd) {
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  DWORD written = 0;
  WriteFile(writer, "abc", 3, &written, nullptr);
  CloseHandle(writer);
  unsigned char buffer[16];
  const platform::FileHandle handle{reinterpret_cast<std::uintptr_t>(reader)};
  EXPECT_EQ(platform::ReadFully(handle, buffer, sizeof buffer), 3);
  EXPECT_EQ(platform::TakeIoError(), 0) << "ERROR_BROKEN_PIPE is the end, not a failure";
  EXPECT_EQ(platform::ReadFully(handle, buffer, sizeof buffer), 0);
  EXPECT_EQ(platform::TakeIoError(), 0);
  CloseHandle(reader);
}

TEST(LogHandle, AppendsAtTheEndAndIsCutBackOnlyToWhereItWas) {
  const std::string path = TempPath("log");
  DeleteFileA(path.c_str());
  const HANDLE before =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  DWORD written = 0;
  WriteFile(before, "earlier\r\n", 9, &written, nullptr);
  CloseHandle(before);

  const platform::FileHandle log = platform::OpenLogForAppend(path.c_str(), 1000);
  ASSERT_EQ(platform::TakeIoError(), 0);
  EXPECT_EQ(platform::QueryFileSize(log), 9u);
  platform::WriteText(log, "torn", 4);
  platform::TruncateTo(log, 9);
  platform::WriteText(log, "line\r\n", 6);
  platform::CloseLog(log);
  EXPECT_EQ(platform::TakeIoError(), 0);
  EXPECT_EQ(ReadFileBytes(path), "earlier\r\nline\r\n");
  DeleteFileA(path.c_str());
}

TEST(LogHandle, HeldByAnotherHandleItIsWaitedForThenGivenUp) {
  const std::string path = TempPath("held");
  const HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(platform::OpenLogForAppend(path.c_str(), 300), platform::kNoFile);
  EXPECT_GE(GetTickCount64() - start, 300u);
  EXPECT_EQ(platform::TakeIoError(), platform::kSharingViolation);
  CloseHandle(held);
}

TEST(LogHandle, AFailedCloseIsAFailedWrite) {
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  // A live handle that refuses to be closed (a closed one could be reused meanwhile).
  ASSERT_TRUE(
      SetHandleInformation(writer, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE));
  platform::CloseLog(platform::FileHandle{reinterpret_cast<std::uintptr_t>(writer)});
  EXPECT_EQ(platform::TakeIoError(), platform::kWriteFailed);
  SetHandleInformation(writer, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  CloseHandle(writer);
  CloseHandle(reader);
}

TEST(LogHandle, ACtrlCWhileItIsHeldWaitsForTheWholeLine) {
  const std::string path = TempPath("ctrl-c");
  DeleteFileA(path.c_str());
  // Ended by the event only once the log is closed: the line is there whole.
  EXPECT_EXIT(
      {
        FreeConsole();
        AllocConsole();
        const platform::FileHandle log = platform::OpenLogForAppend(path.c_str(), 1000);
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        Sleep(500);  // without the hold, the process ends here
        platform::WriteText(log, "whole line\r\n", 12);
        platform::CloseLog(log);
        Sleep(5000);
        platform::EndProcess(3);
      },
      [](int status) { return status != 3; }, "");
  EXPECT_EQ(ReadFileBytes(path), "whole line\r\n");
  DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace korvella
