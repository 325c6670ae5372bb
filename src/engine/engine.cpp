#include "engine/engine.h"

#include <algorithm>
#include <array>

namespace korvella {
namespace {

// A piece is shared out in shares of this size to whichever thread is free.
constexpr std::size_t kShare = 64 * 1024;
// Below this, handing a piece to the second thread costs more than it saves.
constexpr std::size_t kSharedFrom = 2 * kShare;
// The pair counters' 32-bit cells hold at most this many pairs between drains.
constexpr std::size_t kMaxPiece = ChunkSize;

// Adds 256 counters (a histogram or the difference counts) into others.
void Merge(const std::array<std::uint64_t, 256>& from, std::array<std::uint64_t, 256>& into) {
  for (std::size_t i = 0; i < 256; ++i) into[i] += from[i];
}

}  // namespace

Comparison::Comparison() = default;

Comparison::~Comparison() {
  if (helperState_ != HelperState::Running) return;
  // A piece still being counted: the helper counts what is left of it, alone.
  if (inFlight_) done_.acquire();
  stop_ = true;
  start_.release();
  platform::JoinThread(thread_);
}

void Comparison::Begin(Extended tolerance) {
  Complete();
  quotients_ = QuotientTable(tolerance);
  totals_ = PassTotals{};
}

void Comparison::Feed(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count) {
  Complete();
  while (count > kMaxPiece) {
    Start(bytes1, bytes2, kMaxPiece);
    Complete();
    bytes1 += kMaxPiece;
    bytes2 += kMaxPiece;
    count -= kMaxPiece;
  }
  Start(bytes1, bytes2, count);
  // A small piece, or no second thread: count it now.
  if (!inFlight_) Complete();
}

Scores Comparison::Finish(std::uint64_t comparedLength) {
  Complete();
  return {PreciseScoreOf(totals_.DifferenceSum, comparedLength),
          StatisticalScoreOf(totals_.Histogram1, totals_.Histogram2, comparedLength)};
}

void Comparison::Start(const unsigned char* bytes1, const unsigned char* bytes2,
                       std::size_t count) {
  piece_.bytes1 = bytes1;
  piece_.bytes2 = bytes2;
  piece_.count = count;
  piece_.nextShare.store(0, std::memory_order_relaxed);
  inFlight_ = count >= kSharedFrom && HelperReady();
  if (inFlight_) start_.release();
}

void Comparison::Complete() {
  if (piece_.count == 0) return;
  CountShares(counters_[0], counts_[0]);
  if (inFlight_) {
    done_.acquire();
    Merge(counts_[1].histogram1, counts_[0].histogram1);
    Merge(counts_[1].histogram2, counts_[0].histogram2);
    Merge(counts_[1].differences, counts_[0].differences);
    inFlight_ = false;
  }
  Merge(counts_[0].histogram1, totals_.Histogram1);
  Merge(counts_[0].histogram2, totals_.Histogram2);
  AddDifferences(totals_.DifferenceSum, piece_.bytes1, piece_.bytes2, piece_.count,
                 counts_[0].differences, quotients_);
  piece_.count = 0;
}

void Comparison::CountShares(PairCounter& counter, PieceCounts& counts) {
  for (;;) {
    const std::size_t start = piece_.nextShare.fetch_add(kShare, std::memory_order_relaxed);
    if (start >= piece_.count) break;
    counter.Count(piece_.bytes1 + start, piece_.bytes2 + start,
                  std::min(kShare, piece_.count - start));
  }
  counts = PieceCounts{};
  counter.Drain(counts.histogram1, counts.histogram2, counts.differences);
}

bool Comparison::HelperReady() {
  if (helperState_ == HelperState::NotTried) {
    const bool started = platform::StartThread(
        thread_, [](void* self) { static_cast<Comparison*>(self)->HelperLoop(); }, this);
    helperState_ = started ? HelperState::Running : HelperState::Unavailable;
  }
  return helperState_ == HelperState::Running;
}

void Comparison::HelperLoop() {
  for (;;) {
    start_.acquire();
    if (stop_) return;
    CountShares(counters_[1], counts_[1]);
    done_.release();
  }
}

}  // namespace korvella
