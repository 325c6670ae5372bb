#include "engine/engine.h"

#include "app/failure.h"
#include "input/inputs.h"

namespace korvella {
namespace {

// Fixed storage for the whole run: nothing is allocated per pass.
alignas(64) unsigned char chunk1[ChunkSize];
alignas(64) unsigned char chunk2[ChunkSize];
PassTotals totals;

}  // namespace

const PassTotals& LastTotals() { return totals; }

__attribute__((noinline)) void RunComparison() {
  InputPair& pair = Inputs();
  ComparisonResult& result = Result();
  totals = PassTotals{};
  std::uint64_t remaining = result.ComparedLength;
  for (;;) {
    const auto chunkLength = static_cast<std::int32_t>(remaining < ChunkSize ? remaining : ChunkSize);
    const std::int32_t delivered1 = ReadBlock(pair.File1, chunk1, chunkLength);
    CheckIo();
    if (delivered1 != chunkLength) ReportReadError(pair.Name1.View());
    const std::int32_t delivered2 = ReadBlock(pair.File2, chunk2, chunkLength);
    CheckIo();
    if (delivered2 != chunkLength) ReportReadError(pair.Name2.View());
    AccumulatePlain(chunk1, chunk2, static_cast<std::size_t>(delivered1), result.Tolerance, totals);
    remaining -= static_cast<std::uint64_t>(delivered1);
    if (static_cast<std::uint64_t>(delivered1) < ChunkSize) break;
  }
  result.StatisticalScore = StatisticalScoreOf(totals.Histogram1, totals.Histogram2, result.ComparedLength);
  result.PreciseScore = PreciseScoreOf(totals.DifferenceSum, result.ComparedLength);
}

}  // namespace korvella
