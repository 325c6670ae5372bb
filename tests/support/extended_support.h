// Test helpers for the 80-bit type that work the same with the hardware and the
// software type: values from their bits, bit equality, exact decimals.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "extended/extended.h"

namespace korvella::testing {

// A positive value from its exponent field and significand.
inline Extended Bits(std::uint16_t exponent, std::uint64_t significand) {
  return Extended::FromBits(false, exponent, significand);
}

inline bool SameBits(Extended a, Extended b) {
  const ExtendedBits x = a.Bits(), y = b.Bits();
  return x.significand == y.significand && x.signAndExponent == y.signAndExponent;
}

// The bits as sign:exponent:significand, for failure messages.
inline std::string Hex(Extended v) {
  const ExtendedBits bits = v.Bits();
  char text[40];
  std::snprintf(text, sizeof text, "%04X:%016llX", bits.signAndExponent,
                static_cast<unsigned long long>(bits.significand));
  return text;
}

// The exact decimal value of a finite value of magnitude below 2^64 whose lowest
// significand bit is worth at least 2^-120 (or a zero), cut (not rounded) after `places`
// digits; "?" for anything else.
inline std::string ExactDecimal(Extended v, int places = 30) {
  __extension__ typedef unsigned __int128 Wide;
  const ExtendedBits bits = v.Bits();
  const int exponent = bits.signAndExponent & 0x7FFF;
  const int shift = 63 - (exponent == 0 ? 1 - 16383 : exponent - 16383);  // v = m / 2^shift
  std::string text = (bits.signAndExponent & 0x8000) ? "-" : "";
  if (bits.significand == 0 && exponent == 0) return text + "0." + std::string(places, '0');
  if (exponent == 0x7FFF || shift < 0 || shift > 120) return "?";
  const Wide m = bits.significand;
  const Wide whole = shift >= 64 ? 0 : m >> shift;
  Wide fraction = shift >= 64 ? m : m & ((static_cast<Wide>(1) << shift) - 1);
  text += std::to_string(static_cast<std::uint64_t>(whole)) + ".";
  for (int i = 0; i < places; ++i) {
    fraction *= 10;  // below 2^124
    text.push_back(static_cast<char>('0' + static_cast<int>(fraction >> shift)));
    fraction &= (static_cast<Wide>(1) << shift) - 1;
  }
  return text;
}

}  // namespace korvella::testing

namespace korvella {
// GoogleTest prints values with this.
inline void PrintTo(Extended v, std::ostream* out) {
  *out << testing::Hex(v) << " (" << testing::ExactDecimal(v, 25) << ")";
}
}  // namespace korvella
