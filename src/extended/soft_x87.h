// The x87 80-bit extended arithmetic in plain integers: the same result bits and
// exception flags as the FPU, so the digits do not depend on the CPU having one.
#pragma once

#include <cstdint>

namespace korvella::soft_x87 {

// An 80-bit value as the x87 stores it: the significand with its explicit integer
// bit 63, then the sign (bit 15) and the exponent field (bias 16383).
struct Bits {
  std::uint64_t significand;
  std::uint16_t signExponent;
};

// Exception flags, the bits of the x87 status word.
inline constexpr unsigned kInvalid = 0x01;
inline constexpr unsigned kDenormal = 0x02;
inline constexpr unsigned kZeroDivide = 0x04;
inline constexpr unsigned kOverflow = 0x08;
inline constexpr unsigned kUnderflow = 0x10;
inline constexpr unsigned kPrecision = 0x20;

// Every operation gives what the x87 gives with all exceptions masked, a 64-bit
// significand and rounding to nearest even (control word 0x037F), and ORs the
// exceptions the x87 raises into `flags`. Unnormals, pseudo-NaNs and
// pseudo-infinities are invalid operands; pseudo-denormals are accepted.

Bits Add(Bits a, Bits b, unsigned& flags);       // a + b (fadd)
Bits Subtract(Bits a, Bits b, unsigned& flags);  // a - b (fsub)
Bits Multiply(Bits a, Bits b, unsigned& flags);  // a * b (fmul)
Bits Divide(Bits a, Bits b, unsigned& flags);    // a / b (fdiv)

enum class Order { Less, Equal, Greater, Unordered };

// How a compares to b for <, >, <= and >= (fcomi): any NaN or unsupported
// encoding is unordered and raises kInvalid; a denormal raises kDenormal.
Order Compare(Bits a, Bits b, unsigned& flags);
// How a compares to b for == and != (fucomi): the same, except that a quiet NaN
// raises nothing.
Order CompareQuiet(Bits a, Bits b, unsigned& flags);

// The exact value of an integer.
Bits FromUint64(std::uint64_t v);
Bits FromInt64(std::int64_t v);

// The integer value toward zero, as glibc's truncl: the same bits as frndint
// rounding toward zero, and kInvalid (a signaling NaN, an unsupported encoding)
// is the only flag; truncl raises neither kPrecision nor kDenormal.
Bits Truncate(Bits a, unsigned& flags);

// static_cast<long long> (fistp rounding toward zero): kPrecision when a fraction
// is dropped (a denormal raises no kDenormal); out of range, NaN, infinity or an
// unsupported encoding gives 0x8000000000000000 and kInvalid.
std::int64_t ToInt64(Bits a, unsigned& flags);

// The sign flipped (fchs); never raises.
Bits Negate(Bits a);

}  // namespace korvella::soft_x87
