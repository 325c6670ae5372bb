// The x87 itself as the yardstick of the software arithmetic, for its unit test
// and its fuzz target: each operation alone, its result bits and its flags.
#pragma once

#include <cstdint>
#include <cstring>

#include "extended/soft_x87.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cmath>
#endif

namespace korvella::soft_x87 {

enum class Op { kAdd, kSubtract, kMultiply, kDivide };

inline Bits Soft(Op op, Bits a, Bits b, unsigned& flags) {
  switch (op) {
    case Op::kAdd: return Add(a, b, flags);
    case Op::kSubtract: return Subtract(a, b, flags);
    case Op::kMultiply: return Multiply(a, b, flags);
    case Op::kDivide: return Divide(a, b, flags);
  }
  return {};
}

#if defined(__x86_64__) || defined(__i386__)

// --- The FPU. Each operation runs alone between fnclex and fnstsw with control
// word 0x037F (0x0F7F, rounding toward zero, for what the program compiles with
// it), in asm so nothing is folded or moved, and with the caller's control word
// put back.

struct Ten {
  unsigned char bytes[10];
};

inline Ten ToTen(Bits bits) {
  Ten ten;
  std::memcpy(ten.bytes, &bits.significand, 8);
  std::memcpy(ten.bytes + 8, &bits.signExponent, 2);
  return ten;
}

inline Bits FromTen(const Ten& ten) {
  Bits bits;
  std::memcpy(&bits.significand, ten.bytes, 8);
  std::memcpy(&bits.signExponent, ten.bytes + 8, 2);
  return bits;
}

inline long double ToLongDouble(Bits bits) {
  long double value = 0;
  std::memcpy(&value, &bits.significand, 8);
  std::memcpy(reinterpret_cast<char*>(&value) + 8, &bits.signExponent, 2);
  return value;
}

inline Bits FromLongDouble(long double value) {
  Bits bits;
  std::memcpy(&bits.significand, &value, 8);
  std::memcpy(&bits.signExponent, reinterpret_cast<const char*>(&value) + 8, 2);
  return bits;
}

constexpr unsigned kFlagMask = 0x3F;
constexpr std::uint16_t kNearest = 0x037F;
constexpr std::uint16_t kTowardZero = 0x0F7F;

// "a b INSN": st(1) = a, st = b. In AT&T spelling fsubrp and fdivrp are a - b, a / b.
#define KORVELLA_FPU_BINARY(INSN)                                                                 \
  asm volatile("fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex\n\tfldt %[a]\n\tfldt %[b]\n\t" INSN \
               " %%st, %%st(1)\n\tfstpt %[result]\n\tfnstsw %[status]\n\tfnclex\n\t"              \
               "fldcw %[saved]"                                                                   \
               : [result] "=m"(result), [status] "=m"(status), [saved] "=m"(saved)                \
               : [a] "m"(tenA), [b] "m"(tenB), [control] "m"(kNearest)                            \
               : "memory", "st", "st(1)")

__attribute__((noinline)) inline Bits Fpu(Op op, Bits a, Bits b, unsigned& flags) {
  const Ten tenA = ToTen(a);
  const Ten tenB = ToTen(b);
  Ten result{};
  std::uint16_t status = 0;
  std::uint16_t saved = 0;
  switch (op) {
    case Op::kAdd: KORVELLA_FPU_BINARY("faddp"); break;
    case Op::kSubtract: KORVELLA_FPU_BINARY("fsubrp"); break;
    case Op::kMultiply: KORVELLA_FPU_BINARY("fmulp"); break;
    case Op::kDivide: KORVELLA_FPU_BINARY("fdivrp"); break;
  }
  flags |= status & kFlagMask;
  return FromTen(result);
}

// a < b and the like compile to fcomip, a == b to fucomip (a in st, b in st(1)).
#define KORVELLA_FPU_COMPARE(INSN)                                                                \
  asm volatile("fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex\n\tfldt %[b]\n\tfldt %[a]\n\t" INSN \
               " %%st(1), %%st\n\tsetz %[zero]\n\tsetc %[carry]\n\tsetp %[parity]\n\t"            \
               "fstp %%st(0)\n\tfnstsw %[status]\n\tfnclex\n\tfldcw %[saved]"                     \
               : [zero] "=m"(zero), [carry] "=m"(carry), [parity] "=m"(parity),                   \
                 [status] "=m"(status), [saved] "=m"(saved)                                       \
               : [a] "m"(tenA), [b] "m"(tenB), [control] "m"(kNearest)                            \
               : "memory", "cc", "st", "st(1)")

__attribute__((noinline)) inline Order FpuCompare(bool quiet, Bits a, Bits b, unsigned& flags) {
  const Ten tenA = ToTen(a);
  const Ten tenB = ToTen(b);
  unsigned char zero = 0, carry = 0, parity = 0;
  std::uint16_t status = 0;
  std::uint16_t saved = 0;
  if (quiet) {
    KORVELLA_FPU_COMPARE("fucomip");
  } else {
    KORVELLA_FPU_COMPARE("fcomip");
  }
  flags |= status & kFlagMask;
  if (parity != 0) return Order::Unordered;
  if (zero != 0) return Order::Equal;
  return carry != 0 ? Order::Less : Order::Greater;
}

// static_cast<long long>: fistp with the rounding switched toward zero.
__attribute__((noinline)) inline std::int64_t FpuToInt64(Bits a, unsigned& flags) {
  const Ten tenA = ToTen(a);
  std::int64_t result = 0;
  std::uint16_t status = 0;
  std::uint16_t saved = 0;
  asm volatile(
      "fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex\n\tfldt %[a]\n\tfistpq %[result]\n\t"
      "fnstsw %[status]\n\tfnclex\n\tfldcw %[saved]"
      : [result] "=m"(result), [status] "=m"(status), [saved] "=m"(saved)
      : [a] "m"(tenA), [control] "m"(kTowardZero)
      : "memory", "st");
  flags |= status & kFlagMask;
  return result;
}

// What GCC inlines for truncl at -O2: frndint rounding toward zero. It raises
// kPrecision and kDenormal where glibc's truncl does not.
__attribute__((noinline)) inline Bits FpuFrndint(Bits a, unsigned& flags) {
  const Ten tenA = ToTen(a);
  Ten result{};
  std::uint16_t status = 0;
  std::uint16_t saved = 0;
  asm volatile(
      "fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex\n\tfldt %[a]\n\tfrndint\n\t"
      "fstpt %[result]\n\tfnstsw %[status]\n\tfnclex\n\tfldcw %[saved]"
      : [result] "=m"(result), [status] "=m"(status), [saved] "=m"(saved)
      : [a] "m"(tenA), [control] "m"(kTowardZero)
      : "memory", "st");
  flags |= status & kFlagMask;
  return FromTen(result);
}

// glibc's truncl itself, called through a pointer so it is not inlined.
__attribute__((noinline)) inline Bits FpuTruncl(Bits a, unsigned& flags) {
  long double (*volatile truncate)(long double) = truncl;
  const long double value = ToLongDouble(a);
  std::uint16_t status = 0;
  std::uint16_t saved = 0;
  asm volatile("fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex"
               : [saved] "=m"(saved)
               : [control] "m"(kNearest)
               : "memory");
  volatile long double result = truncate(value);
  asm volatile("fnstsw %[status]\n\tfnclex\n\tfldcw %[saved]"
               : [status] "=m"(status)
               : [saved] "m"(saved)
               : "memory");
#if !defined(__GLIBC__)
  // The yardstick is glibc's truncl, which raises only kInvalid; others (MinGW-w64's)
  // also raise kPrecision.
  status &= kInvalid;
#endif
  flags |= status & kFlagMask;
  return FromLongDouble(result);
}

#endif  // x87

}  // namespace korvella::soft_x87
