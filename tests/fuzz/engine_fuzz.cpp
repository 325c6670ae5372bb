// Arbitrary bytes cut in half into two inputs, tiled to a length the engine shares
// between its threads, and fed in pieces the input chooses: the engine must give
// the plain sweep's bits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "engine/scores.h"
#include "support/extended_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  // First byte: how many times to tile the input (1..256); second: the piece size.
  const std::size_t copies = 1 + static_cast<std::size_t>(data[0]);
  const std::size_t piece = 1 + (static_cast<std::size_t>(data[1]) << 11) + data[1];
  data += 2;
  size -= 2;
  const std::size_t half = size / 2;
  std::vector<unsigned char> a, b;
  for (std::size_t copy = 0; copy < copies; ++copy) {
    // Each copy a little different, so that runs and binades change along the way.
    for (std::size_t i = 0; i < half; ++i) {
      a.push_back(static_cast<unsigned char>(data[i] + (copy & 3)));
      b.push_back(data[half + i]);
    }
  }
  const std::size_t n = a.size();
  if (n == 0) return 0;

  static korvella::Comparison comparison;
  comparison.Begin(24);
  for (std::size_t at = 0; at < n; at += piece) {
    comparison.Feed(a.data() + at, b.data() + at, std::min(piece, n - at));
  }
  const korvella::Scores scores = comparison.Finish(n);

  korvella::PassTotals plain;
  korvella::AccumulatePlain(a.data(), b.data(), n, 24, plain);
  const korvella::PassTotals& fast = comparison.Totals();
  if (plain.Histogram1 != fast.Histogram1 || plain.Histogram2 != fast.Histogram2) std::abort();
  if (!korvella::testing::SameBits(plain.DifferenceSum, fast.DifferenceSum)) std::abort();
  if (!korvella::testing::SameBits(korvella::PreciseScoreOf(plain.DifferenceSum, n),
                                   scores.Precise))
    std::abort();
  return 0;
}
