// The comparison engine: counts pairs of bytes in memory and gives both scores.
// No I/O: a comparison is begun with the tolerance, fed the pairs in order in
// pieces of any size, and finished with the compared length. The results are the
// bits of the plain pair-by-pair sweep, however the bytes are cut into pieces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore>

#include "engine/bulk_sum.h"
#include "engine/pair_counter.h"
#include "engine/scores.h"
#include "platform/platform.h"

namespace korvella {

// The most pairs the engine counts as one piece; larger pieces are split.
inline constexpr std::uint64_t ChunkSize = 8u << 20;

struct Scores {
  Extended Precise;
  Extended Statistical;
};

// One comparison at a time. Large pieces are counted by two threads, the second
// one counting in the background while the caller fetches the next piece; where
// no second thread can be had, the caller's thread counts alone.
class Comparison {
 public:
  Comparison();
  ~Comparison();
  Comparison(const Comparison&) = delete;
  Comparison& operator=(const Comparison&) = delete;

  // Starts anew.
  void Begin(Extended tolerance);
  // Adds `count` pairs after those fed before. The counting may go on after the
  // return: the bytes must stay untouched until the next Feed or Finish returns.
  void Feed(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count);
  // Completes the counting and computes both scores; `comparedLength` is the
  // number of pairs fed, at least 1.
  Scores Finish(std::uint64_t comparedLength);
  // The histograms and DifferenceSum so far (complete after Finish).
  const PassTotals& Totals() const { return totals_; }

 private:
  // What one thread counted of one piece.
  struct PieceCounts {
    ByteHistogram histogram1{};
    ByteHistogram histogram2{};
    DifferenceCounts differences{};
  };
  struct Piece {
    const unsigned char* bytes1 = nullptr;
    const unsigned char* bytes2 = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> nextShare{0};
  };

  void Start(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count);
  void Complete();
  void CountShares(PairCounter& counter, PieceCounts& counts);
  bool HelperReady();
  void HelperLoop();

  QuotientTable quotients_{24};
  PassTotals totals_;
  Piece piece_;
  bool inFlight_ = false;  // piece_ is being counted by the helper
  PairCounter counters_[2];
  PieceCounts counts_[2];

  // The second thread, started at the first piece large enough to share.
  enum class HelperState { NotTried, Running, Unavailable };
  HelperState helperState_ = HelperState::NotTried;
  bool stop_ = false;
  std::binary_semaphore start_{0};
  std::binary_semaphore done_{0};
  platform::Thread thread_;
};

}  // namespace korvella
