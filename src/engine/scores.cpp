#include "engine/scores.h"

namespace korvella {

void AccumulatePlain(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count,
                     Extended tolerance, PassTotals& totals) {
  Extended sum = totals.DifferenceSum;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char a = bytes1[i];
    const unsigned char b = bytes2[i];
    ++totals.Histogram1[a];
    ++totals.Histogram2[b];
    const int difference = PairDifference(a, b);
    if (difference > 0) {
      const Extended quotient = Extended(difference) / tolerance;
      sum = quotient + sum;
    }
  }
  totals.DifferenceSum = sum;
}

Extended StatisticalScoreOf(const ByteHistogram& histogram1, const ByteHistogram& histogram2,
                            std::uint64_t comparedLength) {
  const Extended length(comparedLength);
  Extended score;
  for (std::size_t value = 0; value < 256; ++value) {
    Extended x = Extended(histogram1[value]) / length;
    x = x * 100;
    x = x * 256;
    x = x * 2;
    const Extended a = 100 - x;
    Extended y = Extended(histogram2[value]) / length;
    y = y * 100;
    y = y * 256;
    y = y * 2;
    const Extended b = 100 - y;
    Extended d = a - b;
    if (d < 0) d = -d;
    const Extended t = 100 + score;
    score = t - d;
  }
  score = score / 256;
  if (!(score >= 0)) score = 0;
  return score;
}

Extended PreciseScoreOf(Extended differenceSum, std::uint64_t comparedLength) {
  Extended r = differenceSum / Extended(comparedLength);
  r = r * 100;
  Extended score = 100 - r;
  if (!(score >= 0)) score = 0;
  return score;
}

Extended AverageScore(Extended statisticalScore, Extended preciseScore) {
  const Extended sum = statisticalScore + preciseScore;
  return sum / 2;
}

}  // namespace korvella
