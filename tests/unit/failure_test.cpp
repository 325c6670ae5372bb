// Start-up settings and the trapped floating-point exceptions, in child processes.
#include "process/failure.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace korvella {
namespace {

volatile long double zero = 0;
volatile long double huge = 1e4000L;

void TrapAfter(long double (*operation)()) {
  StartRun();
  volatile long double result = operation();
  // x87 reports a pending exception at the next floating-point instruction.
  result = result + 1;
  EndRun(0);
}

TEST(StartRun, SetsTheFloatingPointControlWord) {
  if (!platform::HasFloatingPointControlWord()) GTEST_SKIP() << "no x87";
  EXPECT_EXIT(
      {
        StartRun();
        EndRun((platform::FloatingPointControlWord() & 0x1F3F) == 0x1332 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FloatingPointTraps, EndTheRunWithTheirCode) {
  if (!platform::HasFloatingPointControlWord()) GTEST_SKIP() << "no x87";
  EXPECT_EXIT(TrapAfter([]() -> long double { return 1.0L / zero; }),
              ::testing::ExitedWithCode(200), "");
  EXPECT_EXIT(TrapAfter([]() -> long double { return huge * huge; }),
              ::testing::ExitedWithCode(205), "");
  EXPECT_EXIT(TrapAfter([]() -> long double { return zero / zero; }),
              ::testing::ExitedWithCode(207), "");
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

const char* locationFile = nullptr;

void WriteLocation(std::uint16_t code, const platform::FailureSite& site) {
  if (FILE* out = std::fopen(locationFile, "w")) {
    std::fprintf(out, "%zx", static_cast<std::size_t>(platform::ModuleOffset(site.location)));
    std::fclose(out);
  }
  platform::EndProcess(code);
}

TEST(FloatingPointTraps, NameTheInstructionThatRaisedTheException) {
  if (!platform::HasFloatingPointControlWord()) GTEST_SKIP() << "no x87";
  const std::string file = ::testing::TempDir() + "korvella-trap-location";
  locationFile = file.c_str();
  EXPECT_EXIT(
      {
        platform::StartProcess(WriteLocation);
        DivideByZeroAndStore();
        platform::EndProcess(0);
      },
      ::testing::ExitedWithCode(200), "");
  std::string offset;
  std::ifstream(file) >> offset;
  std::remove(file.c_str());
  ASSERT_FALSE(offset.empty());
  const std::string command =
      "addr2line -f -C -e /proc/" + std::to_string(getpid()) + "/exe 0x" + offset;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char function[512] = {};
  ASSERT_NE(std::fgets(function, sizeof function, pipe), nullptr);
  pclose(pipe);
  EXPECT_NE(std::string(function).find("DivideWithoutStoring"), std::string::npos) << function;
}

}  // namespace
}  // namespace korvella
