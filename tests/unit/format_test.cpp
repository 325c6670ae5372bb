#include "report/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "support/exact_decimal.h"
#include "support/extended_support.h"

namespace korvella {
namespace {

using testing::Bits;

Extended Negative(std::uint16_t exponent, std::uint64_t significand) {
  return Extended::FromBits(true, exponent, significand);
}

struct FixedCase {
  const char* name;
  Extended value;
  int digits;
  const char* text;
};

const FixedCase kFixed[] = {
    {"100", 100, 15, "100.000000000000000"},
    {"0", 0, 15, "0.000000000000000"},
    {"24", 24, 1, "24.0"},
    {"50", 50, 15, "50.000000000000000"},
    {"200/3", Extended(200) / 3, 15, "66.666666666666667"},
    {"100/3", Extended(100) / 3, 15, "33.333333333333333"},
    {"nearest 99.99999999999999999", Bits(0x4005, 0xC7FFFFFFFFFFFFFF), 15, "100.000000000000000"},
    {"0.5", Bits(0x3FFE, 0x8000000000000000), 15, "0.500000000000000"},
    {"nearest 0.05", Bits(0x3FFA, 0xCCCCCCCCCCCCCCCD), 15, "0.050000000000000"},
    {"2^-16, an exact tie", Bits(0x3FEF, 0x8000000000000000), 15, "0.000015258789063"},
    {"nearest 6e-16", Bits(0x3FCC, 0xACF02F8F133A6904), 15, "0.000000000000001"},
    {"nearest 4e-16", Bits(0x3FCB, 0xE69594BEC44DE15B), 15, "0.000000000000000"},
    {"just below 50.9000000000000105", Bits(0x4004, 0xCB9999999999A56C), 15, "50.900000000000011"},
    {"just below 0.5000000000000005", Bits(0x3FFE, 0x8000000000002407), 15, "0.500000000000001"},
    {"just below 1.9999999999999995", Bits(0x3FFF, 0xFFFFFFFFFFFFEDFC), 15, "2.000000000000000"},
    {"1 - 2^-64", Bits(0x3FFE, 0xFFFFFFFFFFFFFFFF), 15, "1.000000000000000"},
    {"r becomes exactly 1", Bits(0x3FFF, 0x8CCCCCCCCCCCBAC9), 15, "1.100000000000000"},
    {"0.25, an exact tie", Bits(0x3FFD, 0x8000000000000000), 1, "0.3"},
    {"just below 0.35", Bits(0x3FFD, 0xB333333333333333), 1, "0.4"},
    {"just below 0.95", Bits(0x3FFE, 0xF333333333333333), 1, "1.0"},
    {"nearest 99.95", Bits(0x4005, 0xC7E6666666666666), 1, "99.9"},
    {"123.456789012345678 shows the digit budget", Bits(0x4005, 0xF6E9E03FDA64C68B), 15,
     "123.456789012345680"},
    {"-24", -24, 1, "-24.0"},
    {"-0.5", Negative(0x3FFE, 0x8000000000000000), 15, "-0.500000000000000"},
    {"negative zero", Negative(0, 0), 15, "-0.000000000000000"},
    {"NaN", Bits(0x7FFF, 0xC000000000000000), 15, "Nan"},
    {"negative NaN", Negative(0x7FFF, 0xC000000000000000), 1, "Nan"},
    {"+Inf", Bits(0x7FFF, 0x8000000000000000), 15, "+Inf"},
    {"-Inf", Negative(0x7FFF, 0x8000000000000000), 15, "-Inf"},
    {"f above 17 acts as 17", Bits(0x3FFE, 0x8000000000000000), 20, "0.50000000000000000"},
    {"18 integer digits round at the budget", Extended(std::uint64_t{123456789012345678}), 2,
     "123456789012345680.00"},
};

TEST(FormatFixed, Table) {
  for (const auto& c : kFixed) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatFixed(c.value, c.digits), c.text);
  }
}

TEST(FormatCount, Table) {
  const std::pair<std::uint64_t, const char*> rows[] = {
      {0, "0"},
      {1024, "1024"},
      {8388608, "8388608"},
      {5368709120, "5368709120"},
      {18446744073709551615u, "18446744073709551615"}};
  for (const auto& [count, text] : rows) EXPECT_EQ(FormatCount(count), text);
}

TEST(FormatFixed, AgreesWithExactRoundingAwayFromHalfwayPoints) {
  const Extended kHalf = Bits(0x3FFE, 0x8000000000000000);
  const Extended kTenToTheMinus19 = Bits(0x3FBF, 0xEC1E4A7DB69561A5);  // nearest to 1e-19
  const Extended kTenToTheMinus21 = Bits(0x3FB9, 0x971DA05074DA7BEF);  // nearest to 1e-21
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    Extended v;
    switch (i % 4) {
      case 0:  // anywhere in [0, 100), nudged by up to 1000 units of 1e-19
        v = Extended(random() >> 11) / Extended(std::uint64_t{9007199254740992}) * 100;
        v = v + Extended(random() % 1000) * kTenToTheMinus19;
        break;
      case 1: {  // tiny values, down to the smallest normal ones
        const auto exponent = static_cast<std::uint16_t>(16383 - 1 - random() % 80);
        v = Bits(exponent, random() | 0x8000000000000000u);
        break;
      }
      case 2: {  // near a 15-place halfway point
        const auto units = random() % 100000000000000000u;
        v = (Extended(units) + kHalf) / Extended(std::uint64_t{1000000000000000});
        v = v + Extended(static_cast<int>(random() % 2001) - 1000) * kTenToTheMinus21;
        break;
      }
      default:  // any significand in any binade of [2^-64, 64)
        v = Bits(static_cast<std::uint16_t>(16383 - 64 + random() % 70),
                 random() | 0x8000000000000000u);
        break;
    }
    if (!(v >= 0 && v < 100)) continue;
    const testing::ExactRounding exact = testing::RoundExactly(v);
    if (exact.nearHalfway) continue;
    ++checked;
    ASSERT_EQ(FormatFixed(v, 15), exact.text) << "value " << testing::Hex(v);
  }
  EXPECT_GT(checked, 100000);
}

}  // namespace
}  // namespace korvella
