// Counting a range of byte pairs: both byte histograms and the pairs of each
// difference, with one table increment per byte pair or fewer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/bulk_sum.h"
#include "engine/scores.h"

namespace korvella {

// Counts at most 2^31 pairs between two calls of Drain (32-bit counters; the
// engine drains after every piece, and its pieces hold at most ChunkSize pairs).
// Eight-byte words that are equal in both inputs go to one byte table that counts
// for both files; unequal words go to a table of (a, b) pairs, which yields both
// histograms and the difference counts. Runs of one repeated word pair are
// counted once per run.
class PairCounter {
 public:
  PairCounter();
  void Count(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count);
  // Adds what was counted to the totals and starts anew.
  void Drain(ByteHistogram& histogram1, ByteHistogram& histogram2, DifferenceCounts& differences);

 private:
  void FlushRuns();
  static constexpr std::size_t kWays = 4;  // spreads increments of one value over tables
  std::array<std::array<std::uint32_t, 256>, kWays> equalBytes_{};
  std::array<std::uint32_t, 65536> pairs_{};
  bool anyPairs_ = false;
  // The last word pair seen and how many times more it came in a row.
  std::uint64_t lastEqualWord_ = 0;
  std::uint32_t equalRepeats_ = 0;
  std::uint64_t lastWord1_ = 0, lastWord2_ = 0;
  std::uint32_t unequalRepeats_ = 0;
};

}  // namespace korvella
