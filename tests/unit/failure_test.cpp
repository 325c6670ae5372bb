// Start-up settings and the trapped floating-point exceptions, in child processes.
#include "process/failure.h"

#include <gtest/gtest.h>

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
  EXPECT_EXIT(
      {
        StartRun();
        EndRun((platform::FloatingPointControlWord() & 0x1F3F) == 0x1332 ? 0 : 3);
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
}

}  // namespace
}  // namespace korvella
