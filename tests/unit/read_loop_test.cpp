// The read loop on real files: requests of every size around the read request and
// the chunk size give the bits of one plain sweep.
#include "input/read_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "input/inputs.h"
#include "platform/platform.h"
#include "support/extended_support.h"

namespace korvella {
namespace {

ComparisonResult RunOnFiles(const std::vector<unsigned char>& a,
                            const std::vector<unsigned char>& b) {
  char path1[] = "/tmp/korvella-read-loop-XXXXXX";
  char path2[] = "/tmp/korvella-read-loop-XXXXXX";
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
  Result().Tolerance = 24;
  RunComparison();
  platform::CloseFile(pair.File1);
  platform::CloseFile(pair.File2);
  std::remove(path1);
  std::remove(path2);
  return Result();
}

TEST(RunComparison, SameBitsAsOnePlainSweepWhateverTheLength) {
  const std::size_t lengths[] = {
      1,         kReadRequest - 1, kReadRequest, kReadRequest + 1, 3 * kReadRequest + 17,
      ChunkSize, ChunkSize + 1,    2 * ChunkSize};
  std::mt19937 random(7);
  for (const std::size_t length : lengths) {
    SCOPED_TRACE(length);
    std::vector<unsigned char> a(length), b(length + 5);
    for (auto& byte : a) byte = static_cast<unsigned char>(random());
    for (auto& byte : b) byte = static_cast<unsigned char>(random() % 7 == 0 ? random() : 0);
    const ComparisonResult result = RunOnFiles(a, b);
    EXPECT_EQ(result.ComparedLength, length);

    PassTotals plain;
    AccumulatePlain(a.data(), b.data(), length, 24, plain);
    EXPECT_TRUE(
        testing::SameBits(result.PreciseScore, PreciseScoreOf(plain.DifferenceSum, length)));
    EXPECT_TRUE(testing::SameBits(result.StatisticalScore,
                                  StatisticalScoreOf(plain.Histogram1, plain.Histogram2, length)));
  }
}

}  // namespace
}  // namespace korvella
