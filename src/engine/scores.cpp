#include "engine/scores.h"

namespace korvella {

void AccumulatePlain(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count,
                     long double tolerance, PassTotals& totals) {
  long double sum = totals.DifferenceSum;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char a = bytes1[i];
    const unsigned char b = bytes2[i];
    ++totals.Histogram1[a];
    ++totals.Histogram2[b];
    const int difference = PairDifference(a, b);
    if (difference > 0) {
      const long double quotient = static_cast<long double>(difference) / tolerance;
      sum = quotient + sum;
    }
  }
  totals.DifferenceSum = sum;
}

long double StatisticalScoreOf(const ByteHistogram& histogram1, const ByteHistogram& histogram2,
                               std::uint64_t comparedLength) {
  const long double length = static_cast<long double>(comparedLength);
  long double score = 0;
  for (std::size_t value = 0; value < 256; ++value) {
    long double x = static_cast<long double>(histogram1[value]) / length;
    x = x * 100;
    x = x * 256;
    x = x * 2;
    const long double a = 100 - x;
    long double y = static_cast<long double>(histogram2[value]) / length;
    y = y * 100;
    y = y * 256;
    y = y * 2;
    const long double b = 100 - y;
    long double d = a - b;
    if (d < 0) d = -d;
    const long double t = 100 + score;
    score = t - d;
  }
  score = score / 256;
  if (!(score >= 0)) score = 0;
  return score;
}

long double PreciseScoreOf(long double differenceSum, std::uint64_t comparedLength) {
  long double r = differenceSum / static_cast<long double>(comparedLength);
  r = r * 100;
  long double score = 100 - r;
  if (!(score >= 0)) score = 0;
  return score;
}

long double AverageScore(long double statisticalScore, long double preciseScore) {
  const long double sum = statisticalScore + preciseScore;
  return sum / 2;
}

}  // namespace korvella
