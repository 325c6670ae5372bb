#include "engine/scores.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/extended_support.h"

namespace korvella {
namespace {

using testing::ExactDecimal;

using Bytes = std::vector<unsigned char>;
using ::testing::StartsWith;

struct Scores {
  Extended precise, statistical, average, differenceSum;
};

Scores Compare(const Bytes& a, const Bytes& b) {
  PassTotals totals;
  AccumulatePlain(a.data(), b.data(), a.size(), 24, totals);
  const Extended statistical = StatisticalScoreOf(totals.Histogram1, totals.Histogram2, a.size());
  const Extended precise = PreciseScoreOf(totals.DifferenceSum, a.size());
  return {precise, statistical, AverageScore(statistical, precise), totals.DifferenceSum};
}

TEST(ByteMagnitude, Table) {
  const std::pair<unsigned char, int> rows[] = {{0x00, 128}, {0x01, 127}, {0x40, 64},  {0x7E, 2},
                                                {0x7F, 1},   {0x80, 256}, {0x81, 255}, {0xC0, 192},
                                                {0xFE, 130}, {0xFF, 129}};
  for (const auto& [byte, magnitude] : rows) EXPECT_EQ(ByteMagnitude(byte), magnitude) << int(byte);
  EXPECT_EQ(PairDifference(0x00, 0xFF), 1);
  EXPECT_EQ(PairDifference(0x00, 0x80), 128);
  EXPECT_EQ(PairDifference(0x7F, 0x80), 255);
  EXPECT_EQ(PairDifference(0x42, 0x42), 0);
}

Bytes Repeat(unsigned char byte, std::size_t n) { return Bytes(n, byte); }
Bytes Ascending() {
  Bytes v(256);
  for (int i = 0; i < 256; ++i) v[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
  return v;
}
Bytes Shifted() {
  Bytes v(256);
  for (int i = 0; i < 256; ++i) v[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i + 1);
  return v;
}
Bytes Then(Bytes v, unsigned char last) {
  v.push_back(last);
  return v;
}

struct EngineCase {
  const char* name;
  Bytes a, b;
  const char* precise;
  const char* statistical;
  const char* average;
};

const EngineCase kEngine[] = {
    {"00 against FF",
     {0x00},
     {0xFF},
     "95.833333333333333335646",
     "0.000000000000000000000",
     "47.916666666666666667823"},
    {"7F against 80",
     {0x7F},
     {0x80},
     "0.0000000000000000000",
     "0.0000000000000000000",
     "0.0000000000000000000"},
    {"00 against 18",
     {0x00},
     {0x18},
     "0.0000000000000000000",
     "0.0000000000000000000",
     "0.0000000000000000000"},
    {"00 against 17",
     {0x00},
     {0x17},
     "4.166666666666666671292",
     "0.0000000000000000000",
     "2.083333333333333335646"},
    {"00 03 against 03 00",
     {0x00, 0x03},
     {0x03, 0x00},
     "87.500000000000000000000",
     "100.000000000000000000000",
     "93.750000000000000000000"},
    {"00 80 against 80 00",
     {0x00, 0x80},
     {0x80, 0x00},
     "0.000000000000000000000",
     "100.000000000000000000000",
     "50.000000000000000000000"},
    {"00 08 against 08 00",
     {0x00, 0x08},
     {0x08, 0x00},
     "66.66666666666666666",
     "100.0000000000000000000",
     "83.3333333333333333"},
    {"eight 00 against seven 00 and 03", Repeat(0, 8), Then(Repeat(0, 7), 3),
     "98.437500000000000000000", "50.000000000000000000000", "74.218750000000000000000"},
    {"four 00 against three 00 and 01", Repeat(0, 4), Then(Repeat(0, 3), 1),
     "98.958333333333333335646", "0.000000000000000000000", "49.479166666666666667823"},
    {"ascending against shifted by one", Ascending(), Shifted(), "91.699218750000000027755",
     "100.000000000000000000000", "95.849609375000000013877"},
    {"identical, 1 byte",
     {0x5A},
     {0x5A},
     "100.000000000000000000000",
     "100.000000000000000000000",
     "100.000000000000000000000"},
    {"identical, 1024 bytes", Ascending(), Ascending(), "100.000000000000000000000",
     "100.000000000000000000000", "100.000000000000000000000"},
    {"identical, 1000 mixed", Repeat(0x80, 1000), Repeat(0x80, 1000), "100.000000000000000000000",
     "100.000000000000000000000", "100.000000000000000000000"},
};

TEST(Scores, KnownExamples) {
  for (const auto& c : kEngine) {
    SCOPED_TRACE(c.name);
    const Scores s = Compare(c.a, c.b);
    EXPECT_THAT(ExactDecimal(s.precise), StartsWith(c.precise));
    EXPECT_THAT(ExactDecimal(s.statistical), StartsWith(c.statistical));
    EXPECT_THAT(ExactDecimal(s.average), StartsWith(c.average));
  }
}

TEST(Scores, ExactValuesWithoutTheClamp) {
  // 00 against 18: the sum is exactly 1, so 100 - 100 is exactly 0.
  EXPECT_EQ(Compare({0x00}, {0x18}).differenceSum, 1);
  EXPECT_EQ(PreciseScoreOf(1, 1), 0);
  // 7F against 80: 255 / 24 = 10.625 exactly, and the clamp takes -962.5 to 0.
  const Extended tenAndFiveEighths = Extended(85) / 8;
  EXPECT_EQ(Compare({0x7F}, {0x80}).differenceSum, tenAndFiveEighths);
  EXPECT_EQ(PreciseScoreOf(tenAndFiveEighths, 1), 0);
  // 00 against FF: the statistical sum before the clamp is -300.
  EXPECT_EQ(Compare({0x00}, {0xFF}).differenceSum, Extended(1) / 24);
  EXPECT_THAT(ExactDecimal(Compare({0x00}, {0xFF}).differenceSum),
              StartsWith("0.041666666666666666667796"));
  // Four 00 against three 00 and 01: the running sum ends at exactly 0.
  PassTotals totals;
  const Bytes a = Repeat(0, 4), b = Then(Repeat(0, 3), 1);
  AccumulatePlain(a.data(), b.data(), 4, 24, totals);
  EXPECT_TRUE(testing::SameBits(StatisticalScoreOf(totals.Histogram1, totals.Histogram2, 4), 0))
      << "+0, not -0";
}

TEST(Scores, OneRoundedQuotientPerPairOverAWholeChunk) {
  // 8 MiB of 00 against FF: summing 1/24 pair by pair drifts from the exact mean.
  const std::size_t n = 8u << 20;
  const Bytes a = Repeat(0x00, n), b = Repeat(0xFF, n);
  const Scores s = Compare(a, b);
  EXPECT_THAT(ExactDecimal(s.precise), StartsWith("95.833333333333428072364"));
  EXPECT_EQ(s.statistical, 0);
  EXPECT_THAT(ExactDecimal(s.average), StartsWith("47.916666666666714036182"));
}

}  // namespace
}  // namespace korvella
