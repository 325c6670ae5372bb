// The exact decimal value of an 80-bit number, rounded half up to 15 places, from
// its significand in integers: the yardstick for FormatFixed away from halfway points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "extended/extended.h"

namespace korvella::testing {

// For v in [0, 100): v = m * 2^(e - 63), e = exponent - 16383.
struct ExactRounding {
  std::string text;
  bool nearHalfway;  // within 2e-19 of a halfway point: the procedure decides
};

inline ExactRounding RoundExactly(Extended v) {
  __extension__ typedef unsigned __int128 u128;
  const std::uint64_t m = v.Bits().significand;
  const std::uint16_t se = v.Bits().signAndExponent;
  const int shift = 63 - (static_cast<int>(se & 0x7FFF) - 16383);  // v = m / 2^shift
  // v * 10^15 = m * 10^15 / 2^shift; split into whole units and the remainder.
  // 10^15 < 2^50, m < 2^64: m * 10^15 fits in 114 bits.
  const u128 scaled = static_cast<u128>(m) * 1000000000000000ull;
  u128 units, remainder, denominator;
  if (shift >= 128) {
    // Below 2^-64: far under half a unit, and far from any halfway point.
    units = 0;
    remainder = 0;
    denominator = 1;
  } else {
    denominator = static_cast<u128>(1) << shift;
    units = scaled >> shift;
    remainder = scaled & (denominator - 1);
  }
  // Rounding half up.
  const bool up = remainder * 2 >= denominator;
  // Distance to the halfway point, in units of 10^-15: |remainder/denominator - 1/2|.
  // Near when that distance * 1e-15 < 2e-19, i.e. below 2.1e-4 units: in integers,
  // |2 * remainder - denominator| * 10000 < 4.2 * denominator.
  const u128 twice = remainder * 2;
  const u128 distance = twice > denominator ? twice - denominator : denominator - twice;
  const bool near = denominator > 1 && (shift >= 100 ? distance < denominator / 50000 * 21
                                                     : distance * 50000 < denominator * 21);
  const u128 rounded = units + (up ? 1 : 0);
  const std::uint64_t whole = static_cast<std::uint64_t>(rounded / 1000000000000000ull);
  const std::uint64_t part = static_cast<std::uint64_t>(rounded % 1000000000000000ull);
  char text[64];
  std::snprintf(text, sizeof text, "%llu.%015llu", static_cast<unsigned long long>(whole),
                static_cast<unsigned long long>(part));
  return {text, near};
}

}  // namespace korvella::testing
