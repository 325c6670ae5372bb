// Two 80-bit operands from the input (any bit patterns): every operation of the
// software x87 must give the FPU's result bits and exception flags. Without an x87
// the operations only run, for the sanitizers.
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "extended/soft_x87.h"

namespace korvella::soft_x87 {
namespace {

Bits Read(const std::uint8_t* bytes) {
  Bits bits;
  std::memcpy(&bits.significand, bytes, 8);
  std::memcpy(&bits.signExponent, bytes + 8, 2);
  return bits;
}

#if defined(__x86_64__) || defined(__i386__)

struct Ten {
  unsigned char bytes[10];
};

Ten ToTen(Bits bits) {
  Ten ten;
  std::memcpy(ten.bytes, &bits.significand, 8);
  std::memcpy(ten.bytes + 8, &bits.signExponent, 2);
  return ten;
}

Bits FromTen(const Ten& ten) {
  Bits bits;
  std::memcpy(&bits.significand, ten.bytes, 8);
  std::memcpy(&bits.signExponent, ten.bytes + 8, 2);
  return bits;
}

long double ToLongDouble(Bits bits) {
  long double value = 0;
  std::memcpy(&value, &bits.significand, 8);
  std::memcpy(reinterpret_cast<char*>(&value) + 8, &bits.signExponent, 2);
  return value;
}

Bits FromLongDouble(long double value) {
  Bits bits;
  std::memcpy(&bits.significand, &value, 8);
  std::memcpy(&bits.signExponent, reinterpret_cast<const char*>(&value) + 8, 2);
  return bits;
}

bool Same(Bits a, Bits b) {
  return a.significand == b.significand && a.signExponent == b.signExponent;
}

constexpr unsigned kFlagMask = 0x3F;
constexpr std::uint16_t kNearest = 0x037F;
constexpr std::uint16_t kTowardZero = 0x0F7F;

// The FPU runs each operation alone between fnclex and fnstsw, as the unit test
// does: st(1) = a, st = b; in AT&T spelling fsubrp and fdivrp are a - b and a / b.
#define KORVELLA_FPU_BINARY(INSN)                                                                 \
  asm volatile("fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex\n\tfldt %[a]\n\tfldt %[b]\n\t" INSN \
               " %%st, %%st(1)\n\tfstpt %[result]\n\tfnstsw %[status]\n\tfnclex\n\t"              \
               "fldcw %[saved]"                                                                   \
               : [result] "=m"(result), [status] "=m"(status), [saved] "=m"(saved)                \
               : [a] "m"(tenA), [b] "m"(tenB), [control] "m"(kNearest)                            \
               : "memory", "st", "st(1)")

__attribute__((noinline)) Bits Fpu(int op, Bits a, Bits b, unsigned& flags) {
  const Ten tenA = ToTen(a);
  const Ten tenB = ToTen(b);
  Ten result{};
  std::uint16_t status = 0;
  std::uint16_t saved = 0;
  switch (op) {
    case 0: KORVELLA_FPU_BINARY("faddp"); break;
    case 1: KORVELLA_FPU_BINARY("fsubrp"); break;
    case 2: KORVELLA_FPU_BINARY("fmulp"); break;
    default: KORVELLA_FPU_BINARY("fdivrp"); break;
  }
  flags |= status & kFlagMask;
  return FromTen(result);
}

// What GCC emits: fcomip for < > <= >=, fucomip for == and != (a in st, b in st(1)).
#define KORVELLA_FPU_COMPARE(INSN)                                                                \
  asm volatile("fnstcw %[saved]\n\tfldcw %[control]\n\tfnclex\n\tfldt %[b]\n\tfldt %[a]\n\t" INSN \
               " %%st(1), %%st\n\tsetz %[zero]\n\tsetc %[carry]\n\tsetp %[parity]\n\t"            \
               "fstp %%st(0)\n\tfnstsw %[status]\n\tfnclex\n\tfldcw %[saved]"                     \
               : [zero] "=m"(zero), [carry] "=m"(carry), [parity] "=m"(parity),                   \
                 [status] "=m"(status), [saved] "=m"(saved)                                       \
               : [a] "m"(tenA), [b] "m"(tenB), [control] "m"(kNearest)                            \
               : "memory", "cc", "st", "st(1)")

__attribute__((noinline)) Order FpuCompare(bool quiet, Bits a, Bits b, unsigned& flags) {
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

__attribute__((noinline)) std::int64_t FpuToInt64(Bits a, unsigned& flags) {
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

__attribute__((noinline)) Bits FpuFrndint(Bits a, unsigned& flags) {
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

__attribute__((noinline)) Bits FpuTruncl(Bits a, unsigned& flags) {
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
  flags |= status & kFlagMask;
  return FromLongDouble(result);
}

// Prints the operands and both results (as a hex string of their 80 bits, or of an
// integer or an Order), then aborts.
[[noreturn]] void Mismatch(const char* what, Bits a, Bits b, const char* soft, unsigned softFlags,
                           const char* fpu, unsigned fpuFlags) {
  std::fprintf(stderr,
               "%s on %04x:%016" PRIx64 ", %04x:%016" PRIx64
               ": software %s flags %02x, FPU %s flags %02x\n",
               what, a.signExponent, a.significand, b.signExponent, b.significand, soft, softFlags,
               fpu, fpuFlags);
  std::abort();
}

struct Text {
  char chars[32];
};

Text Hex(Bits bits) {
  Text text;
  std::snprintf(text.chars, sizeof text.chars, "%04x:%016" PRIx64, bits.signExponent,
                bits.significand);
  return text;
}

Text Hex(std::uint64_t value) {
  Text text;
  std::snprintf(text.chars, sizeof text.chars, "%016" PRIx64, value);
  return text;
}

void CheckBinary(Bits a, Bits b) {
  static const char* const kNames[] = {"Add", "Subtract", "Multiply", "Divide"};
  for (int op = 0; op < 4; ++op) {
    unsigned softFlags = 0, fpuFlags = 0;
    const Bits soft = op == 0   ? Add(a, b, softFlags)
                      : op == 1 ? Subtract(a, b, softFlags)
                      : op == 2 ? Multiply(a, b, softFlags)
                                : Divide(a, b, softFlags);
    const Bits fpu = Fpu(op, a, b, fpuFlags);
    if (!Same(soft, fpu) || softFlags != fpuFlags) {
      Mismatch(kNames[op], a, b, Hex(soft).chars, softFlags, Hex(fpu).chars, fpuFlags);
    }
  }
  for (bool quiet : {false, true}) {
    unsigned softFlags = 0, fpuFlags = 0;
    const Order soft = quiet ? CompareQuiet(a, b, softFlags) : Compare(a, b, softFlags);
    const Order fpu = FpuCompare(quiet, a, b, fpuFlags);
    if (soft != fpu || softFlags != fpuFlags) {
      Mismatch(quiet ? "CompareQuiet" : "Compare", a, b,
               Hex(static_cast<std::uint64_t>(soft)).chars, softFlags,
               Hex(static_cast<std::uint64_t>(fpu)).chars, fpuFlags);
    }
  }
}

void CheckUnary(Bits a) {
  unsigned softFlags = 0, fpuFlags = 0, frndintFlags = 0;
  const Bits soft = Truncate(a, softFlags);
  const Bits fpu = FpuTruncl(a, fpuFlags);
  const Bits frndint = FpuFrndint(a, frndintFlags);
  if (!Same(soft, fpu) || softFlags != fpuFlags) {
    Mismatch("Truncate (truncl)", a, a, Hex(soft).chars, softFlags, Hex(fpu).chars, fpuFlags);
  }
  if (!Same(soft, frndint) || (softFlags & kInvalid) != (frndintFlags & kInvalid)) {
    Mismatch("Truncate (frndint)", a, a, Hex(soft).chars, softFlags, Hex(frndint).chars,
             frndintFlags);
  }
  softFlags = fpuFlags = 0;
  const std::int64_t softInteger = ToInt64(a, softFlags);
  const std::int64_t fpuInteger = FpuToInt64(a, fpuFlags);
  if (softInteger != fpuInteger || softFlags != fpuFlags) {
    Mismatch("ToInt64", a, a, Hex(static_cast<std::uint64_t>(softInteger)).chars, softFlags,
             Hex(static_cast<std::uint64_t>(fpuInteger)).chars, fpuFlags);
  }
  volatile long double value = ToLongDouble(a);
  const Bits negated = FromLongDouble(-value);
  if (!Same(Negate(a), negated))
    Mismatch("Negate", a, a, Hex(Negate(a)).chars, 0, Hex(negated).chars, 0);

  const volatile std::uint64_t integer = a.significand;
  const Bits fromUnsigned = FromLongDouble(static_cast<long double>(integer));
  if (!Same(FromUint64(integer), fromUnsigned)) {
    Mismatch("FromUint64", a, a, Hex(FromUint64(integer)).chars, 0, Hex(fromUnsigned).chars, 0);
  }
  const volatile auto signedInteger = static_cast<std::int64_t>(integer);
  const Bits fromSigned = FromLongDouble(static_cast<long double>(signedInteger));
  if (!Same(FromInt64(signedInteger), fromSigned)) {
    Mismatch("FromInt64", a, a, Hex(FromInt64(signedInteger)).chars, 0, Hex(fromSigned).chars, 0);
  }
}

#else

void CheckBinary(Bits a, Bits b) {
  unsigned flags = 0;
  Add(a, b, flags);
  Subtract(a, b, flags);
  Multiply(a, b, flags);
  Divide(a, b, flags);
  Compare(a, b, flags);
  CompareQuiet(a, b, flags);
}

void CheckUnary(Bits a) {
  unsigned flags = 0;
  Truncate(a, flags);
  ToInt64(a, flags);
  FromInt64(static_cast<std::int64_t>(a.significand));
}

#endif

}  // namespace
}  // namespace korvella::soft_x87

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using korvella::soft_x87::Bits;
  if (size < 20) return 0;
  const Bits a = korvella::soft_x87::Read(data);
  const Bits b = korvella::soft_x87::Read(data + 10);
  korvella::soft_x87::CheckBinary(a, b);
  korvella::soft_x87::CheckBinary(b, a);
  korvella::soft_x87::CheckUnary(a);
  return 0;
}
