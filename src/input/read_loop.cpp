#include "input/read_loop.h"

#include <algorithm>
#include <cstdint>

#include "engine/engine.h"
#include "input/inputs.h"
#include "platform/platform.h"
#include "process/failure.h"

namespace korvella {
namespace {

// Two sets of buffers: one is counted while the other is read.
alignas(64) unsigned char buffers[2][2][kReadRequest];
// The pair tables are scattered into at random: large pages spare TLB misses.
alignas(2u << 20) Comparison comparison;

}  // namespace

__attribute__((noinline)) void RunComparison() {
  InputPair& pair = Inputs();
  ComparisonResult& result = Result();
  platform::AdviseLargePages(&comparison, sizeof comparison);
  comparison.Begin(result.Tolerance);
  int set = 0;
  for (std::uint64_t remaining = result.ComparedLength; remaining != 0;) {
    const auto length = static_cast<std::int32_t>(std::min<std::uint64_t>(remaining, kReadRequest));
    unsigned char* const bytes1 = buffers[set][0];
    unsigned char* const bytes2 = buffers[set][1];
    const std::int32_t delivered1 = ReadBlock(pair.File1, bytes1, length);
    CheckIo();
    if (delivered1 != length) ReportReadError(pair.Name1.View());
    const std::int32_t delivered2 = ReadBlock(pair.File2, bytes2, length);
    CheckIo();
    if (delivered2 != length) ReportReadError(pair.Name2.View());
    // The engine may still count these while the other set is read.
    comparison.Feed(bytes1, bytes2, static_cast<std::size_t>(length));
    remaining -= static_cast<std::uint64_t>(length);
    set = 1 - set;
  }
  const Scores scores = comparison.Finish(result.ComparedLength);
  result.PreciseScore = scores.Precise;
  result.StatisticalScore = scores.Statistical;
}

}  // namespace korvella
