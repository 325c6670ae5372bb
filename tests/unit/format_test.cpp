#include "report/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "engine/extended.h"
#include "support/exact_decimal.h"

namespace korvella {
namespace {

long double Bits(std::uint16_t exponent, std::uint64_t significand) {
  return ExtendedFromBits(false, exponent, significand);
}

struct FixedCase {
  const char* name;
  long double value;
  int digits;
  const char* text;
};

const FixedCase kFixed[] = {
    {"100", 100.0L, 15, "100.000000000000000"},
    {"0", 0.0L, 15, "0.000000000000000"},
    {"24", 24.0L, 1, "24.0"},
    {"50", 50.0L, 15, "50.000000000000000"},
    {"200/3", 200.0L / 3.0L, 15, "66.666666666666667"},
    {"100/3", 100.0L / 3.0L, 15, "33.333333333333333"},
    {"nearest 99.99999999999999999", 99.99999999999999999L, 15, "100.000000000000000"},
    {"0.5", 0.5L, 15, "0.500000000000000"},
    {"nearest 0.05", 0.05L, 15, "0.050000000000000"},
    {"2^-16, an exact tie", 0.0000152587890625L, 15, "0.000015258789063"},
    {"nearest 6e-16", 6e-16L, 15, "0.000000000000001"},
    {"nearest 4e-16", 4e-16L, 15, "0.000000000000000"},
    {"just below 50.9000000000000105", Bits(0x4004, 0xCB9999999999A56C), 15, "50.900000000000011"},
    {"just below 0.5000000000000005", Bits(0x3FFE, 0x8000000000002407), 15, "0.500000000000001"},
    {"just below 1.9999999999999995", Bits(0x3FFF, 0xFFFFFFFFFFFFEDFC), 15, "2.000000000000000"},
    {"1 - 2^-64", Bits(0x3FFE, 0xFFFFFFFFFFFFFFFF), 15, "1.000000000000000"},
    {"r becomes exactly 1", Bits(0x3FFF, 0x8CCCCCCCCCCCBAC9), 15, "1.100000000000000"},
    {"0.25, an exact tie", 0.25L, 1, "0.3"},
    {"just below 0.35", Bits(0x3FFD, 0xB333333333333333), 1, "0.4"},
    {"just below 0.95", Bits(0x3FFE, 0xF333333333333333), 1, "1.0"},
    {"nearest 99.95", 99.95L, 1, "99.9"},
    {"123.456789012345678 shows the digit budget", 123.456789012345678L, 15, "123.456789012345680"},
    {"-24", -24.0L, 1, "-24.0"},
    {"-0.5", -0.5L, 15, "-0.500000000000000"},
    {"negative zero", -0.0L, 15, "-0.000000000000000"},
    {"NaN", std::numeric_limits<long double>::quiet_NaN(), 15, "Nan"},
    {"negative NaN", -std::numeric_limits<long double>::quiet_NaN(), 1, "Nan"},
    {"+Inf", std::numeric_limits<long double>::infinity(), 15, "+Inf"},
    {"-Inf", -std::numeric_limits<long double>::infinity(), 15, "-Inf"},
    {"f above 17 acts as 17", 0.5L, 20, "0.50000000000000000"},
    {"18 integer digits round at the budget", 123456789012345678.0L, 2, "123456789012345680.00"},
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
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    long double v;
    switch (i % 4) {
      case 0:  // anywhere in [0, 100)
        v = static_cast<long double>(random() >> 11) / 9007199254740992.0L * 100.0L;
        v = v + static_cast<long double>(random() % 1000) * 1e-19L;
        break;
      case 1: {  // tiny values, down to the smallest normal ones
        const auto exponent = static_cast<std::uint16_t>(16383 - 1 - random() % 80);
        v = Bits(exponent, random() | 0x8000000000000000u);
        break;
      }
      case 2: {  // near a 15-place halfway point
        const auto units = random() % 100000000000000000u;
        v = (static_cast<long double>(units) + 0.5L) / 1e15L;
        v = v + static_cast<long double>(static_cast<int>(random() % 2001) - 1000) * 1e-21L;
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
    ASSERT_EQ(FormatFixed(v, 15), exact.text) << "value " << std::hexfloat << v;
  }
  EXPECT_GT(checked, 100000);
}

}  // namespace
}  // namespace korvella
