// The arithmetic of a comparison, on bytes already in memory: the byte histograms,
// the sum of byte differences and the two scores, every step in 80-bit
// extended precision in a fixed order, so that the printed digits never change.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "extended/extended.h"

namespace korvella {

using ByteHistogram = std::array<std::uint64_t, 256>;

// What the passes accumulate.
struct PassTotals {
  ByteHistogram Histogram1{};
  ByteHistogram Histogram2{};
  Extended DifferenceSum;
};

// 128 - b read as a signed byte: 0x00 gives 128, 0x7F gives 1, 0x80 gives 256.
constexpr int ByteMagnitude(unsigned char byte) { return 128 - static_cast<signed char>(byte); }

constexpr int PairDifference(unsigned char a, unsigned char b) {
  const int difference = ByteMagnitude(a) - ByteMagnitude(b);
  return difference < 0 ? -difference : difference;
}

// The plain definition, one pair after another: both counters, and for an unequal
// pair DifferenceSum := (difference / tolerance) + DifferenceSum, each rounded.
void AccumulatePlain(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count,
                     Extended tolerance, PassTotals& totals);

// 100 minus the scaled histogram distance, over the byte values in ascending
// order, divided by 256 and clamped at 0.
Extended StatisticalScoreOf(const ByteHistogram& histogram1, const ByteHistogram& histogram2,
                            std::uint64_t comparedLength);

// 100 - (DifferenceSum / length) * 100, clamped at 0.
Extended PreciseScoreOf(Extended differenceSum, std::uint64_t comparedLength);

// (statistical + precise), rounded, then halved.
Extended AverageScore(Extended statisticalScore, Extended preciseScore);

}  // namespace korvella
