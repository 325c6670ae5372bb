// The fast counting and summing must give the bits of the plain pair-by-pair sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/bulk_sum.h"
#include "engine/engine.h"
#include "engine/scores.h"
#include "support/extended_support.h"

namespace korvella {
namespace {

using Bytes = std::vector<unsigned char>;

struct Inputs2 {
  Bytes a, b;
};

// Data shapes that stress different paths: bulk steps, runs, binade crossings.
Inputs2 MakeData(const std::string& kind, std::size_t n, std::mt19937_64& random) {
  Inputs2 d{Bytes(n), Bytes(n)};
  const auto byte = [&] { return static_cast<unsigned char>(random()); };
  for (auto& x : d.a) x = byte();
  d.b = d.a;
  if (kind == "random") {
    for (auto& x : d.b) x = byte();
  } else if (kind == "edits") {
    for (std::size_t i = 0; i < n / 100 + 1; ++i) d.b[random() % n] = byte();
  } else if (kind == "one difference everywhere") {
    std::fill(d.a.begin(), d.a.end(), 0x00);
    std::fill(d.b.begin(), d.b.end(), 0xFF);
  } else if (kind == "runs") {
    // Long runs of repeated words, equal and unequal, broken now and then.
    for (std::size_t i = 0; i < n; ++i) {
      d.a[i] = static_cast<unsigned char>((i / 4096) % 3);
      d.b[i] = static_cast<unsigned char>((i / 8192) % 5);
    }
    for (std::size_t i = 0; i < n / 5000 + 1; ++i) d.b[random() % n] = byte();
  } else if (kind == "small differences") {
    for (auto& x : d.b) x = static_cast<unsigned char>(x + random() % 3);
  } else if (kind == "sparse large differences") {
    for (std::size_t i = 0; i < n / 1000 + 1; ++i) {
      const std::size_t at = random() % n;
      d.b[at] = static_cast<unsigned char>(d.a[at] ^ 0x80);
    }
  }
  return d;
}

void ExpectSameBits(Extended fast, Extended plain) {
  EXPECT_TRUE(testing::SameBits(fast, plain))
      << "fast " << testing::Hex(fast) << " plain " << testing::Hex(plain);
}

// Ways of cutting n pairs into the pieces fed to the engine, as piece lengths.
std::vector<std::size_t> Cut(const std::string& how, std::size_t n, std::mt19937_64& random) {
  std::vector<std::size_t> pieces;
  const auto fixed = [&](std::size_t length) {
    for (std::size_t at = 0; at < n; at += length) pieces.push_back(std::min(length, n - at));
  };
  if (how == "whole") {
    pieces.push_back(n);
  } else if (how == "read requests") {
    fixed(256 * 1024);
  } else if (how == "odd pieces") {
    fixed(65536 * 2 + 7);
  } else if (how == "tiny pieces") {
    fixed(13);
  } else if (how == "random pieces") {
    for (std::size_t at = 0; at < n;) {
      const std::size_t length = std::min<std::size_t>(n - at, 1 + random() % (600 * 1024));
      pieces.push_back(length);
      at += length;
    }
  } else if (how == "empty pieces between") {
    for (std::size_t at = 0; at < n; at += 300000) {
      pieces.push_back(0);
      pieces.push_back(std::min<std::size_t>(300000, n - at));
    }
  }
  return pieces;
}

// Feeds the data in the given pieces, as the read loop does: each piece from its
// own copy, overwritten as soon as the engine allows (two pieces later).
Scores FeedInPieces(Comparison& comparison, const Inputs2& d,
                    const std::vector<std::size_t>& pieces) {
  std::size_t largest = 1;
  for (const std::size_t length : pieces) largest = std::max(largest, length);
  Bytes buffers[2][2] = {{Bytes(largest), Bytes(largest)}, {Bytes(largest), Bytes(largest)}};
  comparison.Begin(24);
  std::size_t at = 0;
  int set = 0;
  for (const std::size_t length : pieces) {
    std::copy_n(d.a.begin() + static_cast<std::ptrdiff_t>(at), length, buffers[set][0].begin());
    std::copy_n(d.b.begin() + static_cast<std::ptrdiff_t>(at), length, buffers[set][1].begin());
    comparison.Feed(buffers[set][0].data(), buffers[set][1].data(), length);
    at += length;
    set = 1 - set;
  }
  return comparison.Finish(at);
}

TEST(Comparison, SameBitsAsThePlainSweepHoweverTheBytesAreCut) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const auto comparison = std::make_unique<Comparison>();
  const char* kinds[] = {"identical",
                         "random",
                         "edits",
                         "one difference everywhere",
                         "runs",
                         "small differences",
                         "sparse large differences"};
  // Pieces above ChunkSize are split inside the engine.
  const std::size_t sizes[] = {1, 7, 8, 9, 4095, 65536 * 3 + 5, (1u << 20) + 3, ChunkSize + 13};
  const char* cuts[] = {"whole",       "read requests", "odd pieces",
                        "tiny pieces", "random pieces", "empty pieces between"};
  for (const char* kind : kinds) {
    for (const std::size_t n : sizes) {
      // The large sizes for two shapes are enough.
      if (n > (1u << 20) && std::string(kind) != "random" && std::string(kind) != "edits") continue;
      const Inputs2 d = MakeData(kind, n, random);
      PassTotals plain;
      AccumulatePlain(d.a.data(), d.b.data(), n, 24, plain);
      for (const char* cut : cuts) {
        if (std::string(cut) == "tiny pieces" && n > (1u << 20)) continue;
        SCOPED_TRACE(std::string(kind) + ", " + std::to_string(n) + " bytes, " + cut);
        const Scores scores = FeedInPieces(*comparison, d, Cut(cut, n, random));
        EXPECT_EQ(comparison->Totals().Histogram1, plain.Histogram1);
        EXPECT_EQ(comparison->Totals().Histogram2, plain.Histogram2);
        ExpectSameBits(comparison->Totals().DifferenceSum, plain.DifferenceSum);
        ExpectSameBits(scores.Precise, PreciseScoreOf(plain.DifferenceSum, n));
        ExpectSameBits(scores.Statistical,
                       StatisticalScoreOf(plain.Histogram1, plain.Histogram2, n));
      }
    }
  }
}

// Destroyed with a piece still being counted by the second thread: no hang, and
// (under ThreadSanitizer) no race with that thread.
TEST(Comparison, CanBeDestroyedWhileAPieceIsCounted) {
  const Bytes a(1 << 20, 0x11), b(1 << 20, 0x22);
  for (int round = 0; round < 20; ++round) {
    const auto comparison = std::make_unique<Comparison>();
    comparison->Begin(24);
    comparison->Feed(a.data(), b.data(), a.size());
  }
}

// Starting sums at binade edges and where increments are exact halves: the bulk
// step must either give the chain's bits or refuse.
TEST(FastEngine, SumsStartingAtAwkwardPlaces) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const QuotientTable quotients(24);
  const Extended quarter = testing::Bits(0x3FFD, 0x8000000000000000);
  const Extended half = testing::Bits(0x3FFE, 0x8000000000000000);
  const auto power = [](int n) { return Extended(std::uint64_t{1} << n); };
  const Extended starts[] = {0,
                             Extended(1) / 24,
                             testing::Bits(0x4002, 0xFE66666666666666),  // nearest to 15.9
                             16,
                             testing::Bits(0x4004, 0xFFF5C28F5C28F5C3),  // nearest to 63.99
                             power(30) - 3,
                             power(40) - half,
                             power(61),
                             power(61) + quarter,
                             power(62),
                             Extended(~std::uint64_t{0} - 1023)};  // 2^64 - 1024
  for (const Extended start : starts) {
    for (const char* kind : {"random", "edits", "small differences"}) {
      SCOPED_TRACE(std::string(kind) + " from " + testing::Hex(start));
      const std::size_t n = 200000;
      const Inputs2 d = MakeData(kind, n, random);
      PassTotals plain;
      plain.DifferenceSum = start;
      AccumulatePlain(d.a.data(), d.b.data(), n, 24, plain);
      DifferenceCounts counts{};
      for (std::size_t i = 0; i < n; ++i)
        ++counts[static_cast<std::size_t>(PairDifference(d.a[i], d.b[i]))];
      Extended sum = start;
      AddDifferences(sum, d.a.data(), d.b.data(), n, counts, quotients);
      ExpectSameBits(sum, plain.DifferenceSum);
    }
  }
}

TEST(FastEngine, BulkStepRefusesWhatItCannotKnow) {
  const QuotientTable quotients(24);
  DifferenceCounts three{};
  three[3] = 1;  // 3 / 24 = 0.125
  // At 2^61 one ulp is 0.25: 0.125 is exactly half an ulp, so the result depends
  // on the sum's last bit.
  const Extended twoToThe61(std::uint64_t{1} << 61);
  Extended sum = twoToThe61;
  EXPECT_FALSE(AddInBulk(sum, three, quotients));
  ExpectSameBits(sum, twoToThe61);
  // A sum of zero has no binade; nothing to add always succeeds.
  Extended zero = 0;
  EXPECT_FALSE(AddInBulk(zero, three, quotients));
  EXPECT_TRUE(AddInBulk(zero, DifferenceCounts{}, quotients));
  // A total that would leave the binade.
  Extended edge = Extended(std::uint64_t{1} << 20) - 1;
  DifferenceCounts many{};
  many[255] = 1;
  EXPECT_FALSE(AddInBulk(edge, many, quotients));
  // Inside one binade: the chain's result.
  Extended inside = 1100;
  many[255] = 10;
  ASSERT_TRUE(AddInBulk(inside, many, quotients));
  Extended chained = 1100;
  for (int i = 0; i < 10; ++i) chained = Extended(255) / 24 + chained;
  ExpectSameBits(inside, chained);
}

}  // namespace
}  // namespace korvella
