// Start-up settings and the trapped floating-point exceptions, in child processes.
#include "process/failure.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "extended/extended.h"
#include "platform/platform.h"

namespace korvella {
namespace {

Extended Zero() { return Extended(); }
Extended Largest() { return Extended::FromBits(false, 0x7FFE, ~std::uint64_t{0}); }
Extended QuietNan() { return Extended::FromBits(false, 0x7FFF, 0xC000000000000000u); }
// Not a constant: a conversion out of range would be folded away at compile time.
__attribute__((noinline)) Extended TwoToThe40() { return Extended(std::uint64_t{1} << 40); }

// Keeps a result, so that the operation is done (and, on the x87, its pending
// exception reported at the store).
volatile std::uint64_t sink;

TEST(StartRun, SetsTheFloatingPointControlWord) {
  if (!platform::HasFloatingPointControlWord()) GTEST_SKIP() << "no x87";
  EXPECT_EXIT(
      {
        StartRun();
        EndRun((platform::FloatingPointControlWord() & 0x1F3F) == 0x1332 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

// The same codes with the x87 and with the software type.
TEST(FloatingPointTraps, EndTheRunWithTheirCode) {
  struct Case {
    const char* name;
    Extended (*operation)();
    int code;
  };
  const Case cases[] = {
      {"division by zero", [] { return Extended(1) / Zero(); }, 200},
      {"overflow", [] { return Largest() * Largest(); }, 205},
      {"zero by zero", [] { return Zero() / Zero(); }, 207},
      {"a NaN compared", [] { return QuietNan() < Extended(1) ? Extended(1) : Extended(2); }, 207},
      {"an int out of range", [] { return Extended(TruncateToInt(TwoToThe40())); }, 207},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          StartRun();
          sink = c.operation().Bits().significand;
          EndRun(0);
        },
        ::testing::ExitedWithCode(c.code), "");
  }
}

// On the x87 the division returns with its exception still pending, reported at
// the caller's next x87 instruction; the software type reports it at the call.
__attribute__((noinline)) Extended DivideWithoutStoring(Extended a, Extended b) { return a / b; }

__attribute__((noinline)) void DivideByZeroAndStore() {
  sink = DivideWithoutStoring(1, Zero()).Bits().significand;
}

const char* locationFile = nullptr;

void WriteLocation(std::uint16_t code, const platform::FailureSite& site) {
  if (FILE* out = std::fopen(locationFile, "w")) {
    // The location and the first call level.
    std::fprintf(out, "%zx %zx", static_cast<std::size_t>(platform::ModuleOffset(site.location)),
                 static_cast<std::size_t>(platform::ModuleOffset(site.levels[0])));
    std::fclose(out);
  }
  platform::EndProcess(code);
}

TEST(FloatingPointTraps, NameTheOperationThatRaisedTheException) {
  const std::string file = ::testing::TempDir() + "korvella-trap-location";
  locationFile = file.c_str();
  EXPECT_EXIT(
      {
        platform::StartProcess(WriteLocation);
        DivideByZeroAndStore();
        platform::EndProcess(0);
      },
      ::testing::ExitedWithCode(200), "");
  std::string location, level;
  std::ifstream(file) >> location >> level;
  std::remove(file.c_str());
  ASSERT_FALSE(level.empty());
  // The functions at an address, innermost first (-i: with those inlined there).
  const auto functionsAt = [](const std::string& offset) {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command =
        std::string(KORVELLA_ADDR2LINE) + " -f -i -C -e '" + program + "' 0x" + offset;
    std::string functions;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, pipe) != nullptr) functions += line;
      pclose(pipe);
    }
    return functions;
  };
  // The division itself, or the operation it is in when that is not inlined
  // (then called from the division's function).
  const std::string at = functionsAt(location);
  const bool inDivision = at.find("DivideWithoutStoring") != std::string::npos;
  const bool inOperation = at.rfind("korvella::operator/", 0) == 0 &&
                           functionsAt(level).find("DivideWithoutStoring") != std::string::npos;
  EXPECT_TRUE(inDivision || inOperation) << at;
}

}  // namespace
}  // namespace korvella
