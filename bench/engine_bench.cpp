// Micro-benchmarks of the engine on bytes in memory: the plain sweep against the
// fast counting and summing, on identical, lightly edited and random data.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/engine.h"
#include "engine/pair_counter.h"
#include "engine/scores.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kSize = 8u << 20;

struct Data {
  Bytes a, b;
};

// kind: 0 identical, 1 one byte in a hundred changed, 2 independent random.
const Data& MakeData(int kind) {
  static Data data[3];
  Data& d = data[kind];
  if (d.a.empty()) {
    std::mt19937_64 random(42);
    d.a.resize(kSize);
    for (auto& byte : d.a) byte = static_cast<unsigned char>(random());
    d.b = d.a;
    if (kind == 1) {
      for (std::size_t i = 0; i < kSize / 100; ++i)
        d.b[random() % kSize] ^= static_cast<unsigned char>(1 + random() % 255);
    }
    if (kind == 2) {
      for (auto& byte : d.b) byte = static_cast<unsigned char>(random());
    }
  }
  return d;
}

// One full sweep of 8 MiB per iteration, pair by pair.
void Plain(benchmark::State& state) {
  const Data& d = MakeData(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    korvella::PassTotals totals;
    korvella::AccumulatePlain(d.a.data(), d.b.data(), kSize, 24, totals);
    benchmark::DoNotOptimize(totals);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

// The same through the engine, fed in pieces as the read loop feeds it.
void Engine(benchmark::State& state) {
  const Data& d = MakeData(static_cast<int>(state.range(0)));
  static korvella::Comparison comparison;
  constexpr std::size_t kPiece = 256 * 1024;
  for (auto _ : state) {
    comparison.Begin(24);
    for (std::size_t at = 0; at < kSize; at += kPiece) {
      comparison.Feed(d.a.data() + at, d.b.data() + at, kPiece);
    }
    benchmark::DoNotOptimize(comparison.Finish(kSize));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

void CountOnly(benchmark::State& state) {
  const Data& d = MakeData(static_cast<int>(state.range(0)));
  static korvella::PairCounter counter;
  korvella::ByteHistogram h1{}, h2{};
  korvella::DifferenceCounts differences{};
  for (auto _ : state) {
    counter.Count(d.a.data(), d.b.data(), kSize);
    counter.Drain(h1, h2, differences);
  }
  benchmark::DoNotOptimize(h1);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

BENCHMARK(Plain)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(Engine)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CountOnly)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
