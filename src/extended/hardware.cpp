// The hardware side of Extended: x87 `long double`, its bits as the FPU stores them.
#include <cmath>
#include <cstring>

#include "extended/extended.h"

namespace korvella {

Extended Extended::FromBits(bool negative, std::uint16_t exponent, std::uint64_t significand) {
  const auto signAndExponent =
      static_cast<std::uint16_t>((negative ? 0x8000 : 0) | (exponent & 0x7FFF));
  long double value = 0;
  std::memcpy(&value, &significand, sizeof significand);
  std::memcpy(reinterpret_cast<char*>(&value) + 8, &signAndExponent, sizeof signAndExponent);
  return FromHardware(value);
}

ExtendedBits Extended::Bits() const {
  ExtendedBits bits{};
  std::memcpy(&bits.significand, &value_, sizeof bits.significand);
  std::memcpy(&bits.signAndExponent, reinterpret_cast<const char*>(&value_) + 8,
              sizeof bits.signAndExponent);
  return bits;
}

Extended Trunc(Extended v) { return Extended::FromHardware(std::trunc(v.value_)); }

}  // namespace korvella
