// The bits of the x87 80-bit extended type: a 64-bit significand with an explicit
// integer bit, then the sign and the 15-bit exponent field (bias 16383).
#pragma once

#include <cstdint>
#include <cstring>

namespace korvella {

struct ExtendedBits {
  std::uint64_t significand;
  std::uint16_t signAndExponent;
};

inline ExtendedBits BitsOf(long double value) {
  ExtendedBits bits{};
  std::memcpy(&bits.significand, &value, sizeof bits.significand);
  std::memcpy(&bits.signAndExponent, reinterpret_cast<const char*>(&value) + 8,
              sizeof bits.signAndExponent);
  return bits;
}

// Builds a value from its sign, exponent field and significand.
inline long double ExtendedFromBits(bool negative, std::uint16_t exponent,
                                    std::uint64_t significand) {
  long double value = 0;
  const auto signAndExponent =
      static_cast<std::uint16_t>((negative ? 0x8000 : 0) | (exponent & 0x7FFF));
  std::memcpy(&value, &significand, sizeof significand);
  std::memcpy(reinterpret_cast<char*>(&value) + 8, &signAndExponent, sizeof signAndExponent);
  return value;
}

}  // namespace korvella
