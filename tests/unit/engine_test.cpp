#include "engine/engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "input/inputs.h"

namespace korvella {
namespace {

// Runs the engine on two real files holding `a` and `b` through the input module.
struct EngineRun {
  ComparisonResult result;
  PassTotals totals;
  std::uint64_t readRequests;
};

EngineRun RunOnFiles(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  char path1[] = "/tmp/korvella-engine-XXXXXX";
  char path2[] = "/tmp/korvella-engine-XXXXXX";
  const int fd1 = mkstemp(path1);
  const int fd2 = mkstemp(path2);
  EXPECT_EQ(write(fd1, a.data(), a.size()), static_cast<ssize_t>(a.size()));
  EXPECT_EQ(write(fd2, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  close(fd1);
  close(fd2);
  InputPair& pair = Inputs();
  pair.File1 = platform::OpenForReading(path1);
  pair.File2 = platform::OpenForReading(path2);
  EXPECT_EQ(platform::TakeIoError(), 0);
  Result().ComparedLength = std::min(a.size(), b.size());
  Result().Tolerance = 24.0L;
  const std::uint64_t before = platform::ReadRequests();
  RunComparison();
  EngineRun run{Result(), LastTotals(), platform::ReadRequests() - before};
  platform::CloseFile(pair.File1);
  platform::CloseFile(pair.File2);
  std::remove(path1);
  std::remove(path2);
  return run;
}

TEST(RunComparison, PassesAndTheirReadRequests) {
  struct Case {
    const char* name;
    std::size_t length;
    std::uint64_t passes;
  };
  const Case cases[] = {
      {"one byte", 1, 1},
      {"just under a chunk", ChunkSize - 1, 1},
      {"exactly a chunk takes a final empty pass", ChunkSize, 2},
      {"a chunk and one byte", ChunkSize + 1, 2},
      {"two chunks", 2 * ChunkSize, 3},
  };
  std::mt19937 random(7);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> a(c.length), b(c.length);
    for (auto& byte : a) byte = static_cast<unsigned char>(random());
    for (auto& byte : b) byte = static_cast<unsigned char>(random() % 7 == 0 ? random() : 0);
    const EngineRun run = RunOnFiles(a, b);
    EXPECT_EQ(run.readRequests, 2 * c.passes);

    // The passes must not change any result against one plain sweep.
    PassTotals plain;
    AccumulatePlain(a.data(), b.data(), c.length, 24.0L, plain);
    EXPECT_EQ(run.totals.Histogram1, plain.Histogram1);
    EXPECT_EQ(run.totals.Histogram2, plain.Histogram2);
    EXPECT_EQ(run.totals.DifferenceSum, plain.DifferenceSum);
    EXPECT_EQ(run.result.PreciseScore, PreciseScoreOf(plain.DifferenceSum, c.length));
    EXPECT_EQ(run.result.StatisticalScore,
              StatisticalScoreOf(plain.Histogram1, plain.Histogram2, c.length));
  }
}

}  // namespace
}  // namespace korvella
