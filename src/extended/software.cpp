// The software side of Extended: the x87's arithmetic in integers. Where the x87,
// under the program's control word, would trap, the run ends the same way, with
// the location where the operation was called.
#include <cstdint>

#include "extended/extended.h"
#include "platform/platform.h"

namespace korvella {
namespace {

using soft_x87::Bits;

// Exceptions the program unmasks, most urgent first as the x87 reports them.
std::uint16_t TrapCode(unsigned flags) {
  if (flags & soft_x87::kInvalid) return 207;
  if (flags & soft_x87::kZeroDivide) return 200;
  if (flags & soft_x87::kOverflow) return 205;
  return 0;
}

constexpr unsigned kTrapping = soft_x87::kInvalid | soft_x87::kZeroDivide | soft_x87::kOverflow;

}  // namespace

// Each operation is its own frame, so that a trap names the caller's location:
// platform::RaiseFloatingPointTrap reports where the operation returns to. Inlined,
// so that it adds no frame of its own.
[[gnu::always_inline]] inline void TrapIf(unsigned flags) {
  if ((flags & kTrapping) != 0) platform::RaiseFloatingPointTrap(TrapCode(flags));
}

Extended::Extended(int value) : bits_(soft_x87::FromInt64(value)) {}
Extended::Extended(std::uint64_t value) : bits_(soft_x87::FromUint64(value)) {}

Extended Extended::FromBits(bool negative, std::uint16_t exponent, std::uint64_t significand) {
  Extended e;
  e.bits_ = {significand,
             static_cast<std::uint16_t>((negative ? 0x8000 : 0) | (exponent & 0x7FFF))};
  return e;
}

ExtendedBits Extended::Bits() const { return {bits_.significand, bits_.signExponent}; }

#define KORVELLA_ARITHMETIC(op, Operation)                        \
  __attribute__((noinline)) Extended op(Extended a, Extended b) { \
    unsigned flags = 0;                                           \
    Extended result;                                              \
    result.bits_ = soft_x87::Operation(a.bits_, b.bits_, flags);  \
    TrapIf(flags);                                                \
    return result;                                                \
  }
KORVELLA_ARITHMETIC(operator+, Add)
KORVELLA_ARITHMETIC(operator-, Subtract)
KORVELLA_ARITHMETIC(operator*, Multiply)
KORVELLA_ARITHMETIC(operator/, Divide)
#undef KORVELLA_ARITHMETIC

Extended operator-(Extended a) {
  Extended result;
  result.bits_ = soft_x87::Negate(a.bits_);
  return result;
}

#define KORVELLA_COMPARISON(op, Comparison, test)                                \
  __attribute__((noinline)) bool op(Extended a, Extended b) {                    \
    unsigned flags = 0;                                                          \
    const soft_x87::Order order = soft_x87::Comparison(a.bits_, b.bits_, flags); \
    TrapIf(flags);                                                               \
    return test;                                                                 \
  }
using soft_x87::Order;
KORVELLA_COMPARISON(operator<, Compare, order == Order::Less)
KORVELLA_COMPARISON(operator>, Compare, order == Order::Greater)
KORVELLA_COMPARISON(operator<=, Compare, order == Order::Less || order == Order::Equal)
KORVELLA_COMPARISON(operator>=, Compare, order == Order::Greater || order == Order::Equal)
KORVELLA_COMPARISON(operator==, CompareQuiet, order == Order::Equal)
KORVELLA_COMPARISON(operator!=, CompareQuiet, order != Order::Equal)
#undef KORVELLA_COMPARISON

__attribute__((noinline)) Extended Trunc(Extended v) {
  unsigned flags = 0;
  Extended result;
  result.bits_ = soft_x87::Truncate(v.bits_, flags);
  TrapIf(flags);
  return result;
}

__attribute__((noinline)) int TruncateToInt(Extended v) {
  unsigned flags = 0;
  const std::int64_t value = soft_x87::ToInt64(v.bits_, flags);
  // The x87 stores an int (fistp of 32 bits): outside its range it is invalid.
  if (value < INT32_MIN || value > INT32_MAX) flags |= soft_x87::kInvalid;
  TrapIf(flags);
  return static_cast<int>(value);
}

}  // namespace korvella
