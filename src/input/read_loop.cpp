#include "input/read_loop.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "engine/engine.h"
#include "input/inputs.h"
#include "input/progress.h"
#include "platform/platform.h"
#include "process/failure.h"

namespace korvella {
namespace {

// Two sets of buffers: one is counted while the other is read.
alignas(64) unsigned char buffers[2][2][kReadRequest];
// The pair tables are scattered into at random: large pages spare TLB misses.
alignas(platform::kLargePageAlignment) Comparison comparison;
Progress progress;

// One request; a failed or short read ends the run, after the progress line is
// taken back.
__attribute__((noinline)) void ReadChecked(platform::FileHandle file, std::string_view name,
                                           unsigned char* buffer, std::int32_t length) {
  const std::int32_t delivered = ReadBlock(file, buffer, length);
  if (platform::IoErrorPending() || delivered != length) progress.Erase();
  CheckIo();
  if (delivered != length) ReportReadError(name);
}

}  // namespace

__attribute__((noinline)) void RunComparison() {
  InputPair& pair = Inputs();
  ComparisonResult& result = Result();
  platform::AdviseLargePages(&comparison, sizeof comparison);
  comparison.Begin(result.Tolerance);
  progress.Begin(result.ComparedLength);
  int set = 0;
  for (std::uint64_t remaining = result.ComparedLength; remaining != 0;) {
    const auto length = static_cast<std::int32_t>(std::min<std::uint64_t>(remaining, kReadRequest));
    unsigned char* const bytes1 = buffers[set][0];
    unsigned char* const bytes2 = buffers[set][1];
    ReadChecked(pair.File1, pair.Name1.View(), bytes1, length);
    ReadChecked(pair.File2, pair.Name2.View(), bytes2, length);
    // The engine may still count these while the other set is read.
    comparison.Feed(bytes1, bytes2, static_cast<std::size_t>(length));
    remaining -= static_cast<std::uint64_t>(length);
    progress.Update(result.ComparedLength - remaining);
    set = 1 - set;
  }
  progress.Erase();
  const Scores scores = comparison.Finish(result.ComparedLength);
  result.PreciseScore = scores.Precise;
  result.StatisticalScore = scores.Statistical;
}

}  // namespace korvella
