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
#include "support/x87_reference.h"

namespace korvella::soft_x87 {
namespace {

Bits Read(const std::uint8_t* bytes) {
  Bits bits;
  std::memcpy(&bits.significand, bytes, 8);
  std::memcpy(&bits.signExponent, bytes + 8, 2);
  return bits;
}

#if defined(__x86_64__) || defined(__i386__)

bool Same(Bits a, Bits b) {
  return a.significand == b.significand && a.signExponent == b.signExponent;
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
  for (const Op op : {Op::kAdd, Op::kSubtract, Op::kMultiply, Op::kDivide}) {
    unsigned softFlags = 0, fpuFlags = 0;
    const Bits soft = Soft(op, a, b, softFlags);
    const Bits fpu = Fpu(op, a, b, fpuFlags);
    if (!Same(soft, fpu) || softFlags != fpuFlags) {
      Mismatch(kNames[static_cast<int>(op)], a, b, Hex(soft).chars, softFlags, Hex(fpu).chars,
               fpuFlags);
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
