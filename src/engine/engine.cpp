#include "engine/engine.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <semaphore>

#include "engine/bulk_sum.h"
#include "engine/pair_counter.h"
#include "input/inputs.h"
#include "platform/platform.h"
#include "process/failure.h"

namespace korvella {
namespace {

// Two sets of chunk buffers: one pass is counted while the next is read.
// Aligned for large pages.
alignas(2u << 20) unsigned char chunks[2][2][ChunkSize];
// One counter per thread; their tables are scattered into at random, so large
// pages help them too.
alignas(2u << 20) PairCounter counters[2];
PassTotals totals;

// A pass is shared out in pieces of this size to whichever thread is free.
constexpr std::size_t kShare = 256 * 1024;
// Below this, a second thread costs more than it saves.
constexpr std::uint64_t kThreadedFrom = 2 * kShare;

struct Pass {
  const unsigned char* bytes1 = nullptr;
  const unsigned char* bytes2 = nullptr;
  std::size_t count = 0;
  std::atomic<std::size_t> nextShare{0};
};

// What one thread counted of one pass.
struct PassCounts {
  ByteHistogram histogram1{};
  ByteHistogram histogram2{};
  DifferenceCounts differences{};
};

void CountShares(Pass& pass, PairCounter& counter, PassCounts& counts) {
  for (;;) {
    const std::size_t start = pass.nextShare.fetch_add(kShare, std::memory_order_relaxed);
    if (start >= pass.count) break;
    counter.Count(pass.bytes1 + start, pass.bytes2 + start, std::min(kShare, pass.count - start));
  }
  counts = PassCounts{};
  counter.Drain(counts.histogram1, counts.histogram2, counts.differences);
}

void Merge(const PassCounts& from, PassCounts& into) {
  for (std::size_t i = 0; i < 256; ++i) {
    into.histogram1[i] += from.histogram1[i];
    into.histogram2[i] += from.histogram2[i];
    into.differences[i] += from.differences[i];
  }
}

// The second thread: counts shares of each pass it is given.
class Helper {
 public:
  // Starts the thread; false when the system has none to give.
  bool Start(PairCounter& counter) {
    counter_ = &counter;
    stop_ = false;
    return platform::StartThread(
        thread_, [](void* self) { static_cast<Helper*>(self)->Work(); }, this);
  }
  void Stop() {
    stop_ = true;
    start_.release();
    platform::JoinThread(thread_);
  }
  void Begin(Pass& pass) {
    pass_ = &pass;
    start_.release();
  }
  // Waits until the pass is counted; returns what this thread counted of it.
  const PassCounts& Finish() {
    done_.acquire();
    return counts_;
  }

 private:
  void Work() {
    for (;;) {
      start_.acquire();
      if (stop_) return;
      CountShares(*pass_, *counter_, counts_);
      done_.release();
    }
  }
  PairCounter* counter_ = nullptr;
  PassCounts counts_;
  Pass* pass_ = nullptr;
  bool stop_ = false;
  std::binary_semaphore start_{0};
  std::binary_semaphore done_{0};
  platform::Thread thread_;
};
Helper helperThread;

struct ReadPass {
  int set;
  std::int32_t length;
};

// One pass's reads, each checked before the next, as the plain sweep does them.
void ReadBoth(const ReadPass& read) {
  InputPair& pair = Inputs();
  const std::int32_t delivered1 = ReadBlock(pair.File1, chunks[read.set][0], read.length);
  CheckIo();
  if (delivered1 != read.length) ReportReadError(pair.Name1.View());
  const std::int32_t delivered2 = ReadBlock(pair.File2, chunks[read.set][1], read.length);
  CheckIo();
  if (delivered2 != read.length) ReportReadError(pair.Name2.View());
}

std::int32_t NextLength(std::uint64_t remaining) {
  return static_cast<std::int32_t>(remaining < ChunkSize ? remaining : ChunkSize);
}

}  // namespace

const PassTotals& LastTotals() { return totals; }

void AccumulateFast(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count,
                    long double tolerance, PassTotals& sums) {
  const QuotientTable quotients(tolerance);
  const auto counter = std::make_unique<PairCounter>();
  std::size_t start = 0;
  do {
    const std::size_t length = std::min<std::size_t>(ChunkSize, count - start);
    counter->Count(bytes1 + start, bytes2 + start, length);
    DifferenceCounts differences{};
    counter->Drain(sums.Histogram1, sums.Histogram2, differences);
    AddDifferences(sums.DifferenceSum, bytes1 + start, bytes2 + start, length, differences,
                   quotients);
    start += length;
  } while (start < count);
}

__attribute__((noinline)) void RunComparison() {
  ComparisonResult& result = Result();
  totals = PassTotals{};
  const QuotientTable quotients(result.Tolerance);
  platform::AdviseLargePages(chunks, sizeof chunks);
  platform::AdviseLargePages(counters, sizeof counters);
  PairCounter& counter = counters[0];
  // A second thread only helps; without one the main thread counts alone.
  Helper* const helper = result.ComparedLength >= kThreadedFrom && helperThread.Start(counters[1])
                             ? &helperThread
                             : nullptr;

  // The sum of a pass is added while the next pass is counted: its bytes stay in
  // their buffers until the pass after that is read into them.
  struct Counted {
    const unsigned char* bytes1 = nullptr;
    const unsigned char* bytes2 = nullptr;
    std::size_t count = 0;
    DifferenceCounts differences{};
  };
  Counted pending;
  const auto addPending = [&] {
    AddDifferences(totals.DifferenceSum, pending.bytes1, pending.bytes2, pending.count,
                   pending.differences, quotients);
    pending.count = 0;
  };

  PassCounts counts;
  std::uint64_t remaining = result.ComparedLength;
  ReadPass current{0, NextLength(remaining)};
  ReadBoth(current);
  for (;;) {
    Pass pass;
    pass.bytes1 = chunks[current.set][0];
    pass.bytes2 = chunks[current.set][1];
    pass.count = static_cast<std::size_t>(current.length);
    if (helper) helper->Begin(pass);
    if (pending.count != 0) addPending();

    // Only a full pass is followed by another; read it while this one is counted.
    remaining -= static_cast<std::uint64_t>(current.length);
    const bool last = static_cast<std::uint64_t>(current.length) < ChunkSize;
    const ReadPass next{1 - current.set, NextLength(remaining)};
    if (!last) ReadBoth(next);

    CountShares(pass, counter, counts);
    if (helper) Merge(helper->Finish(), counts);
    for (std::size_t i = 0; i < 256; ++i) {
      totals.Histogram1[i] += counts.histogram1[i];
      totals.Histogram2[i] += counts.histogram2[i];
    }
    pending = {pass.bytes1, pass.bytes2, pass.count, counts.differences};
    if (last) break;
    current = next;
  }
  if (pending.count != 0) addPending();
  if (helper) helper->Stop();
  result.StatisticalScore =
      StatisticalScoreOf(totals.Histogram1, totals.Histogram2, result.ComparedLength);
  result.PreciseScore = PreciseScoreOf(totals.DifferenceSum, result.ComparedLength);
}

}  // namespace korvella
