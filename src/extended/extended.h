// The 80-bit extended type that every score and every step of their formatting is
// computed in: 1 sign bit, a 15-bit exponent field (bias 16383) and a 64-bit
// significand with an explicit integer bit, each operation rounded to nearest,
// ties to even. Where the CPU has the x87 it is the hardware's own type; elsewhere
// (or with KORVELLA_SOFT_EXTENDED) a software type with the same bits. An invalid
// operation, a division by zero or an overflow ends the run as a trap: 207, 200,
// 205, at the operation.
#pragma once

#include <cstdint>

#if KORVELLA_SOFT_EXTENDED
#include "extended/soft_x87.h"
#else
#include <cfloat>
static_assert(LDBL_MANT_DIG == 64, "the hardware type must be the x87 80-bit extended type");
#endif

namespace korvella {

struct ExtendedBits {
  std::uint64_t significand;
  std::uint16_t signAndExponent;  // sign in bit 15
};

class Extended {
 public:
  // +0.
  constexpr Extended() = default;
  // The exact value of an integer. Small constants read as numbers: x * 100.
  Extended(int value);  // NOLINT(google-explicit-constructor)
  explicit Extended(std::uint64_t value);
  // Any other type would be converted on the way in, a floating value silently
  // cut to an integer, a wide integer to an int: never.
  template <typename Other>
  Extended(Other) = delete;
  // The value of the given sign, exponent field and significand.
  static Extended FromBits(bool negative, std::uint16_t exponent, std::uint64_t significand);
  ExtendedBits Bits() const;

  friend Extended operator+(Extended a, Extended b);
  friend Extended operator-(Extended a, Extended b);
  friend Extended operator*(Extended a, Extended b);
  friend Extended operator/(Extended a, Extended b);
  friend Extended operator-(Extended a);  // the sign flipped, exactly
  friend bool operator<(Extended a, Extended b);
  friend bool operator>(Extended a, Extended b);
  friend bool operator<=(Extended a, Extended b);
  friend bool operator>=(Extended a, Extended b);
  friend bool operator==(Extended a, Extended b);
  friend bool operator!=(Extended a, Extended b);
  // The integer part, toward zero (exact).
  friend Extended Trunc(Extended v);
  // The integer part as an int; `v` must lie within int's range.
  friend int TruncateToInt(Extended v);

#if !KORVELLA_SOFT_EXTENDED
  static Extended FromHardware(long double value) {
    Extended e;
    e.value_ = value;
    return e;
  }
#endif

 private:
#if KORVELLA_SOFT_EXTENDED
  soft_x87::Bits bits_{0, 0};
#else
  long double value_ = 0;
#endif
};

// The fraction v - Trunc(v), which is exact.
inline Extended Frac(Extended v) { return v - Trunc(v); }

#if !KORVELLA_SOFT_EXTENDED
// The hardware type: every operation one x87 instruction, inlined.
inline Extended::Extended(int value) : value_(value) {}
inline Extended::Extended(std::uint64_t value) : value_(static_cast<long double>(value)) {}
inline Extended operator+(Extended a, Extended b) {
  return Extended::FromHardware(a.value_ + b.value_);
}
inline Extended operator-(Extended a, Extended b) {
  return Extended::FromHardware(a.value_ - b.value_);
}
inline Extended operator*(Extended a, Extended b) {
  return Extended::FromHardware(a.value_ * b.value_);
}
inline Extended operator/(Extended a, Extended b) {
  return Extended::FromHardware(a.value_ / b.value_);
}
inline Extended operator-(Extended a) { return Extended::FromHardware(-a.value_); }
inline bool operator<(Extended a, Extended b) { return a.value_ < b.value_; }
inline bool operator>(Extended a, Extended b) { return a.value_ > b.value_; }
inline bool operator<=(Extended a, Extended b) { return a.value_ <= b.value_; }
inline bool operator>=(Extended a, Extended b) { return a.value_ >= b.value_; }
inline bool operator==(Extended a, Extended b) { return a.value_ == b.value_; }
inline bool operator!=(Extended a, Extended b) { return a.value_ != b.value_; }
inline int TruncateToInt(Extended v) { return static_cast<int>(v.value_); }
#endif

}  // namespace korvella
