// The software x87 against results taken from the FPU (everywhere) and against the
// FPU itself on operands of every class (where there is one).
#include "extended/soft_x87.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/x87_reference.h"

namespace korvella::soft_x87 {
namespace {

std::string Hex(Bits bits) {
  char text[32];
  std::snprintf(text, sizeof text, "%04x:%016" PRIx64, bits.signExponent, bits.significand);
  return text;
}

std::string FlagText(unsigned flags) {
  static const char* const kNames[] = {"I", "D", "Z", "O", "U", "P"};
  std::string text;
  for (unsigned bit = 0; bit < 6; ++bit) {
    if ((flags & (1u << bit)) != 0) text += kNames[bit];
  }
  return text.empty() ? "-" : text;
}

constexpr Bits kOne{0x8000000000000000, 0x3FFF};
constexpr Bits kTwo{0x8000000000000000, 0x4000};
constexpr Bits kThree{0xC000000000000000, 0x4000};
constexpr Bits kTen{0xA000000000000000, 0x4002};
constexpr Bits kTwentyFour{0xC000000000000000, 0x4003};
constexpr Bits kHundred{0xC800000000000000, 0x4005};
constexpr Bits kTwoFiftyFive{0xFF00000000000000, 0x4006};
constexpr Bits kTenth{0xCCCCCCCCCCCCCCCD, 0x3FFB};
constexpr Bits kSlack{0x800000000759A1CE, 0x3FC0};
constexpr Bits kZero{0, 0};
constexpr Bits kNegativeZero{0, 0x8000};
constexpr Bits kInfinity{0x8000000000000000, 0x7FFF};
constexpr Bits kIndefinite{0xC000000000000000, 0xFFFF};
constexpr Bits kSmallestNormal{0x8000000000000000, 0x0001};
constexpr Bits kLargest{0xFFFFFFFFFFFFFFFF, 0x7FFE};

// Results taken from the FPU (control word 0x037F). They hold the facts the
// program's digits rest on, and one case for each rule that is easy to get wrong.
struct KnownCase {
  const char* what;
  Op op;
  Bits a, b, result;
  unsigned flags;
};

const KnownCase kKnownCases[] = {
    {"1/24", Op::kDivide, kOne, kTwentyFour, {0xAAAAAAAAAAAAAAAB, 0x3FFA}, kPrecision},
    {"255/24 is exact", Op::kDivide, kTwoFiftyFive, kTwentyFour, {0xAA00000000000000, 0x4002}, 0},
    {"0.1*10", Op::kMultiply, kTenth, kTen, {0x8000000000000000, 0x3FFF}, kPrecision},
    {"100/3", Op::kDivide, kHundred, kThree, {0x8555555555555555, 0x4004}, kPrecision},
    {"100 - 0.1", Op::kSubtract, kHundred, kTenth, {0xC7CCCCCCCCCCCCCD, 0x4005}, kPrecision},
    {"1 + slack", Op::kAdd, kOne, kSlack, {0x8000000000000001, 0x3FFF}, kPrecision},
    {"x - x is +0", Op::kSubtract, kTenth, kTenth, kZero, 0},
    {"-0 + -0 is -0", Op::kAdd, kNegativeZero, kNegativeZero, kNegativeZero, 0},
    {"1 + half an ulp ties to even",
     Op::kAdd,
     kOne,
     {0x8000000000000000, 0x3FBF},
     kOne,
     kPrecision},
    {"inf - inf", Op::kSubtract, kInfinity, kInfinity, kIndefinite, kInvalid},
    {"0 * inf", Op::kMultiply, kZero, kInfinity, kIndefinite, kInvalid},
    {"0 / 0", Op::kDivide, kZero, kZero, kIndefinite, kInvalid},
    {"1 / -0", Op::kDivide, kOne, kNegativeZero, {0x8000000000000000, 0xFFFF}, kZeroDivide},
    {"denormal / 0 raises no kDenormal", Op::kDivide, {1, 0}, kZero, kInfinity, kZeroDivide},
    {"largest * 2 overflows", Op::kMultiply, kLargest, kTwo, kInfinity, kOverflow | kPrecision},
    {"tininess after rounding",
     Op::kMultiply,
     {0xFFFFFFFFFFFFFFFE, 0x3FFE},
     {0x8000000000000001, 0x0001},
     kSmallestNormal,
     kPrecision},
    {"tiny and inexact underflows",
     Op::kDivide,
     kSmallestNormal,
     kThree,
     {0x2AAAAAAAAAAAAAAB, 0x0000},
     kUnderflow | kPrecision},
    {"pseudo-denormal operand becomes normal",
     Op::kAdd,
     {0x8000000000000001, 0},
     kZero,
     {0x8000000000000001, 0x0001},
     kDenormal},
    {"unnormal is invalid", Op::kAdd, {0x4000000000000000, 0x4000}, kOne, kIndefinite, kInvalid},
    {"signaling NaN is quieted",
     Op::kMultiply,
     {0x8000000000000001, 0x7FFF},
     kOne,
     {0xC000000000000001, 0x7FFF},
     kInvalid},
    {"larger NaN significand wins",
     Op::kAdd,
     {0xC000000000000001, 0x7FFF},
     {0xC000000000000002, 0xFFFF},
     {0xC000000000000002, 0xFFFF},
     0},
};

TEST(SoftX87Known, ArithmeticGivesTheFpuResults) {
  for (const KnownCase& known : kKnownCases) {
    SCOPED_TRACE(known.what);
    unsigned flags = 0;
    const Bits result = Soft(known.op, known.a, known.b, flags);
    EXPECT_EQ(Hex(result), Hex(known.result));
    EXPECT_EQ(FlagText(flags), FlagText(known.flags));
  }
}

TEST(SoftX87Known, ComparisonsConversionsAndTruncation) {
  const Bits qnan{0xC000000000000000, 0x7FFF};
  const Bits snan{0xA000000000000000, 0x7FFF};
  unsigned flags = 0;
  EXPECT_EQ(Compare(kZero, kNegativeZero, flags), Order::Equal);
  EXPECT_EQ(Compare(kTenth, kOne, flags), Order::Less);
  EXPECT_EQ(CompareQuiet(Negate(kTenth), kNegativeZero, flags), Order::Less);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(Compare(qnan, kOne, flags), Order::Unordered);
  EXPECT_EQ(flags, kInvalid);
  flags = 0;
  EXPECT_EQ(CompareQuiet(qnan, kOne, flags), Order::Unordered);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(CompareQuiet(snan, kOne, flags), Order::Unordered);
  EXPECT_EQ(flags, kInvalid);

  flags = 0;
  EXPECT_EQ(Hex(FromUint64(~std::uint64_t{0})), "403e:ffffffffffffffff");
  EXPECT_EQ(Hex(FromInt64(INT64_MIN)), "c03e:8000000000000000");
  EXPECT_EQ(Hex(FromInt64(-24)), "c003:c000000000000000");
  EXPECT_EQ(Hex(FromUint64(0)), "0000:0000000000000000");
  EXPECT_EQ(ToInt64({0xAA00000000000000, 0x4002}, flags), 10);  // 10.625
  EXPECT_EQ(flags, kPrecision);
  flags = 0;
  EXPECT_EQ(ToInt64(FromInt64(INT64_MIN), flags), INT64_MIN);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(ToInt64({0x8000000000000000, 0x403E}, flags), INT64_MIN);  // 2^63
  EXPECT_EQ(flags, kInvalid);

  flags = 0;
  EXPECT_EQ(Hex(Truncate({0xAA00000000000000, 0xC002}, flags)), "c002:a000000000000000");
  EXPECT_EQ(Hex(Truncate({0xC000000000000000, 0xBFFE}, flags)), "8000:0000000000000000");
  EXPECT_EQ(flags, 0u);  // truncl leaves no kPrecision
  EXPECT_EQ(Hex(Truncate(snan, flags)), "7fff:e000000000000000");
  EXPECT_EQ(flags, kInvalid);
}

// --- Operands.

using Rng = std::mt19937_64;
using Pair = std::pair<Bits, Bits>;

std::uint64_t Below(Rng& rng, std::uint64_t bound) { return rng() % bound; }

std::uint16_t WithSign(Rng& rng, int exponent) {
  const int clamped = exponent < 0 ? 0 : exponent > 0x7FFF ? 0x7FFF : exponent;
  return static_cast<std::uint16_t>(((rng() & 1) != 0 ? 0x8000 : 0) | clamped);
}

// A significand near the ends of a binade, or random; bit 63 set.
std::uint64_t EdgeSignificand(Rng& rng) {
  static const std::uint64_t kEdges[] = {0x8000000000000000, 0x8000000000000001,
                                         0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFE,
                                         0xC000000000000000, 0xBFFFFFFFFFFFFFFF};
  if ((rng() & 1) != 0) return kEdges[Below(rng, std::size(kEdges))];
  return rng() | 0x8000000000000000;
}

Bits RandomNormal(Rng& rng, int lowExponent, int highExponent) {
  const int exponent =
      lowExponent +
      static_cast<int>(Below(rng, static_cast<std::uint64_t>(highExponent - lowExponent + 1)));
  return {EdgeSignificand(rng), WithSign(rng, exponent)};
}

// One of every encoding class, with random payload where the class has one.
Bits Special(Rng& rng) {
  const std::uint64_t payload = rng();
  const std::uint16_t sign = (rng() & 1) != 0 ? 0x8000 : 0;
  auto with = [&](std::uint64_t significand, int exponent) {
    return Bits{significand, static_cast<std::uint16_t>(sign | exponent)};
  };
  switch (Below(rng, 12)) {
    case 0: return with(0, 0);                                                         // zero
    case 1: return with(0x8000000000000000, 0x7FFF);                                   // infinity
    case 2: return with(0xC000000000000000, 0x7FFF);                                   // indefinite
    case 3: return with(payload | 0xC000000000000000, 0x7FFF);                         // quiet NaN
    case 4: return with((payload & 0x3FFFFFFFFFFFFFFF) | 0x8000000000000001, 0x7FFF);  // SNaN
    case 5: return with(payload & 0x7FFFFFFFFFFFFFFF, 0x7FFF);  // pseudo-NaN, pseudo-infinity
    case 6:
      return with(payload & 0x7FFFFFFFFFFFFFFF,
                  1 + static_cast<int>(Below(rng, 0x7FFE)));  // unnormal
    case 7: return with(payload >> Below(rng, 64), 0);        // denormal
    case 8: return with(payload | 0x8000000000000000, 0);     // pseudo-denormal
    case 9: return with(0x8000000000000000, 1);               // smallest normal
    case 10: return with(1, 0);                               // smallest denormal
    default: return with(0xFFFFFFFFFFFFFFFF, 0x7FFE);         // largest finite
  }
}

Bits Integer(Rng& rng) { return FromUint64(rng() >> Below(rng, 64)); }

// What the program computes with: counts, the constants and quotients by them.
Bits ProgramValue(Rng& rng) {
  static const Bits kConstants[] = {
      kTwo, kTen, kTwentyFour, kHundred, {0x8000000000000000, 0x4007}, kTenth, kSlack, kOne, kZero};
  switch (Below(rng, 4)) {
    case 0: return kConstants[Below(rng, std::size(kConstants))];
    case 1: return Integer(rng);
    case 2: return FromUint64(Below(rng, 102401));
    default: {
      // Drawn one by one: the order of a call's arguments is not fixed across compilers.
      const Bits dividend = FromUint64(Below(rng, 102401));
      const Bits divisor = FromUint64(1 + Below(rng, 256));
      unsigned ignored = 0;
      return Divide(dividend, divisor, ignored);
    }
  }
}

// Each class of operand pairs aims at one part of the arithmetic.
struct PairClass {
  const char* name;
  std::function<Pair(Rng&)> make;
};

const std::vector<PairClass>& PairClasses() {
  static const std::vector<PairClass> kClasses = {
      {"random bit patterns",
       [](Rng& rng) {
         return Pair{{rng(), static_cast<std::uint16_t>(rng())},
                     {rng(), static_cast<std::uint16_t>(rng())}};
       }},
      {"special encodings",
       [](Rng& rng) {
         return Pair{Special(rng), (rng() & 1) != 0 ? Special(rng) : RandomNormal(rng, 0, 0x7FFE)};
       }},
      {"binade edges",
       [](Rng& rng) {
         static const int kExponents[] = {0,      1,      2,      0x3F,   0x40,   0x41,
                                          0x3FFE, 0x3FFF, 0x4000, 0x403E, 0x7FFD, 0x7FFE};
         auto edge = [&] {
           const int exponent = kExponents[Below(rng, std::size(kExponents))];
           std::uint64_t significand = EdgeSignificand(rng);
           if (exponent == 0) significand >>= Below(rng, 64);
           return Bits{significand, WithSign(rng, exponent)};
         };
         return Pair{edge(), edge()};
       }},
      {"near-equal magnitudes (cancellation)",
       [](Rng& rng) {
         const Bits a = RandomNormal(rng, 1, 0x7FFE);
         Bits b = a;
         const std::uint64_t up = rng() >> Below(rng, 64);
         const std::uint64_t down = rng() >> Below(rng, 64);
         b.significand = (a.significand + up - down) | 0x8000000000000000;
         b.signExponent = static_cast<std::uint16_t>(b.signExponent + Below(rng, 3) - 1);
         if ((rng() & 1) != 0) b.signExponent ^= 0x8000;
         return Pair{a, b};
       }},
      {"sums at and near a rounding tie",
       [](Rng& rng) {
         const Bits a = RandomNormal(rng, 0x60, 0x7FFE);
         const int exponent = (a.signExponent & 0x7FFF) - 62 - static_cast<int>(Below(rng, 5));
         static const std::uint64_t kTails[] = {0x8000000000000000, 0x8000000000000001,
                                                0xFFFFFFFFFFFFFFFF, 0xC000000000000000};
         const std::uint64_t tail =
             (rng() & 1) != 0 ? kTails[Below(rng, std::size(kTails))] : rng() | 0x8000000000000000;
         return Pair{a, Bits{tail, WithSign(rng, exponent)}};
       }},
      {"products at and near a rounding tie",
       [](Rng& rng) {
         // Odd factors of about 33 bits: a 65-bit product drops exactly a half.
         auto factor = [&] {
           const std::uint64_t odd = (rng() >> 31) | 1 | (std::uint64_t{1} << 32);
           const int lead = 63 - __builtin_clzll(odd);
           return Bits{odd << (63 - lead),
                       WithSign(rng, 0x3FFF + static_cast<int>(Below(rng, 64)) - 32)};
         };
         return Pair{factor(), factor()};
       }},
      {"quotients near a rounding tie",
       [](Rng& rng) {
         // b = m and a = (m t - r) / 2^65 for an odd t of 65 bits and a small r, so
         // a / b is t / 2^65 - r / (m 2^65): so close to the tie between two quotients
         // that only the remainder tells the side.
         __extension__ typedef unsigned __int128 Wide;
         const Wide mask = (Wide{1} << 65) - 1;
         for (;;) {
           const std::uint64_t m = rng() | 0x8000000000000001;
           Wide inverse = m;  // of m modulo 2^65, by Newton's iteration
           for (int i = 0; i < 6; ++i) inverse = (inverse * (2 - m * inverse)) & mask;
           const auto magnitude = static_cast<std::uint64_t>(2 * Below(rng, 3) + 1);
           const Wide r = (rng() & 1) != 0 ? Wide{magnitude} : Wide{0} - magnitude;
           const Wide t = (r * inverse) & mask;
           const Wide low = Wide{m} * static_cast<std::uint64_t>(t);  // m t = m 2^64 + low
           if ((t >> 64) == 0 || low < 8) continue;
           const auto a = static_cast<std::uint64_t>(((Wide{m} << 63) + (low - r) / 2) >> 64);
           auto scaled = [&](std::uint64_t v) {
             return Bits{v << __builtin_clzll(v),
                         WithSign(rng, 0x3FFF + static_cast<int>(Below(rng, 64)) - 32)};
           };
           return Pair{scaled(a), scaled(m)};
         }
       }},
      {"results near the smallest normal",
       [](Rng& rng) {
         const Bits a = RandomNormal(rng, 1, 0x7FFE);
         const int ea = a.signExponent & 0x7FFF;
         const int target = static_cast<int>(Below(rng, 140)) - 70;
         // Exponents for a product (a * b) or a quotient (a / b) landing near target.
         const int eb = (rng() & 1) != 0 ? target - ea + 0x3FFF : ea - target + 0x3FFF;
         if ((rng() & 3) == 0) return Pair{RandomNormal(rng, 0, 3), RandomNormal(rng, 0, 3)};
         return Pair{a, Bits{EdgeSignificand(rng), WithSign(rng, eb)}};
       }},
      {"results near overflow",
       [](Rng& rng) {
         const Bits a = RandomNormal(rng, 0x3FFF, 0x7FFE);
         const int ea = a.signExponent & 0x7FFF;
         const int target = 0x7FFE + static_cast<int>(Below(rng, 4)) - 2;
         const int eb = (rng() & 1) != 0 ? target - ea + 0x3FFF : ea - target + 0x3FFF;
         return Pair{a, Bits{EdgeSignificand(rng), WithSign(rng, eb)}};
       }},
      {"the program's values",
       [](Rng& rng) {
         return Pair{ProgramValue(rng), ProgramValue(rng)};
       }},
      {"program values and specials",
       [](Rng& rng) {
         return (rng() & 1) != 0 ? Pair{ProgramValue(rng), Special(rng)}
                                 : Pair{Special(rng), ProgramValue(rng)};
       }},
  };
  return kClasses;
}

// A fixed run of every class, and the digest of the FPU's results on it as
// DigestIsTheFpus computes it (truncation as glibc's truncl).
constexpr std::uint64_t kDigestSeed = 0xD16E57;
constexpr int kDigestPairsPerClass = 5000;
constexpr std::uint64_t kFpuDigest = 0xD8D19C7BF9CD7F3C;

// Each class draws from its own stream, so a class can change without moving the others.
std::uint64_t ClassSeed(std::uint64_t seed, const PairClass& pairClass) {
  return seed + 0x9E3779B97F4A7C15 * static_cast<std::uint64_t>(&pairClass - PairClasses().data());
}

// The arithmetic under test, as the software or as the FPU.
struct Arithmetic {
  Bits (*binary)(Op, Bits, Bits, unsigned&);
  Order (*compare)(bool quiet, Bits, Bits, unsigned&);
  Bits (*truncate)(Bits, unsigned&);
  std::int64_t (*toInt64)(Bits, unsigned&);
};

// FNV-1a of every result and its flags over a fixed run of every class: one number
// that says whether many results, taken from the FPU once, come out the same here.
std::uint64_t DigestOfResults(const Arithmetic& arithmetic) {
  std::uint64_t digest = 0xCBF29CE484222325;
  auto mix = [&](std::uint64_t word) { digest = (digest ^ word) * 0x100000001B3; };
  auto mixBits = [&](Bits bits, unsigned flags) {
    mix(bits.significand);
    mix(bits.signExponent | std::uint64_t{flags} << 16);
  };
  for (const PairClass& pairClass : PairClasses()) {
    Rng rng(ClassSeed(kDigestSeed, pairClass));
    for (int i = 0; i < kDigestPairsPerClass; ++i) {
      const auto [a, b] = pairClass.make(rng);
      for (Op op : {Op::kAdd, Op::kSubtract, Op::kMultiply, Op::kDivide}) {
        unsigned flags = 0;
        const Bits result = arithmetic.binary(op, a, b, flags);
        mixBits(result, flags);
      }
      for (bool quiet : {false, true}) {
        unsigned flags = 0;
        const Order order = arithmetic.compare(quiet, a, b, flags);
        mix(static_cast<std::uint64_t>(order) | flags << 8);
      }
      unsigned flags = 0;
      const Bits truncated = arithmetic.truncate(a, flags);
      mixBits(truncated, flags);
      flags = 0;
      mix(static_cast<std::uint64_t>(arithmetic.toInt64(a, flags)));
      mix(flags);
    }
  }
  return digest;
}

Order SoftCompare(bool quiet, Bits a, Bits b, unsigned& flags) {
  return quiet ? CompareQuiet(a, b, flags) : Compare(a, b, flags);
}

constexpr Arithmetic kSoftArithmetic{Soft, SoftCompare, Truncate, ToInt64};

TEST(SoftX87Known, ManyResultsHashToTheFpus) {
  EXPECT_EQ(DigestOfResults(kSoftArithmetic), kFpuDigest);
}

#if defined(__x86_64__) || defined(__i386__)

bool Same(Bits a, Bits b) {
  return a.significand == b.significand && a.signExponent == b.signExponent;
}

const char* OrderText(Order order) {
  switch (order) {
    case Order::Less: return "<";
    case Order::Equal: return "=";
    case Order::Greater: return ">";
    case Order::Unordered: return "unordered";
  }
  return "?";
}

const char* OpText(Op op) {
  switch (op) {
    case Op::kAdd: return "+";
    case Op::kSubtract: return "-";
    case Op::kMultiply: return "*";
    case Op::kDivide: return "/";
  }
  return "?";
}

std::uint64_t Seed() {
  const char* text = std::getenv("KORVELLA_SOFT_X87_SEED");
  return text != nullptr ? std::strtoull(text, nullptr, 0) : 0x5EED5EED;
}

constexpr int kPairsPerClass = 25000;

// Shows the first few mismatches of a class of operands, then how many there were.
class MismatchReport {
 public:
  void operator()(const std::string& what) {
    if (++count_ <= 3) ADD_FAILURE() << what;
  }
  ~MismatchReport() {
    if (count_ > 3) ADD_FAILURE() << count_ << " mismatches in all";
  }

 private:
  int count_ = 0;
};

// Every operation on every pair, software against FPU; stops reporting after a few.
TEST(SoftX87VersusFpu, EveryOperationOnEveryClassOfOperands) {
  const std::uint64_t seed = Seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set KORVELLA_SOFT_X87_SEED to repeat)");
  for (const PairClass& pairClass : PairClasses()) {
    SCOPED_TRACE(pairClass.name);
    MismatchReport report;
    Rng rng(ClassSeed(seed, pairClass));
    for (int i = 0; i < kPairsPerClass; ++i) {
      auto [a, b] = pairClass.make(rng);
      if ((rng() & 1) != 0) std::swap(a, b);
      for (Op op : {Op::kAdd, Op::kSubtract, Op::kMultiply, Op::kDivide}) {
        unsigned softFlags = 0, fpuFlags = 0;
        const Bits soft = Soft(op, a, b, softFlags);
        const Bits fpu = Fpu(op, a, b, fpuFlags);
        if (!Same(soft, fpu) || softFlags != fpuFlags) {
          report(Hex(a) + " " + OpText(op) + " " + Hex(b) + ": " + Hex(soft) + " " +
                 FlagText(softFlags) + ", the FPU " + Hex(fpu) + " " + FlagText(fpuFlags));
        }
      }
      for (bool quiet : {false, true}) {
        unsigned softFlags = 0, fpuFlags = 0;
        const Order soft = quiet ? CompareQuiet(a, b, softFlags) : Compare(a, b, softFlags);
        const Order fpu = FpuCompare(quiet, a, b, fpuFlags);
        if (soft != fpu || softFlags != fpuFlags) {
          report(std::string(quiet ? "CompareQuiet " : "Compare ") + Hex(a) + " and " + Hex(b) +
                 ": " + OrderText(soft) + " " + FlagText(softFlags) + ", the FPU " +
                 OrderText(fpu) + " " + FlagText(fpuFlags));
        }
      }
    }
  }
}

// The one-operand operations on the same classes.
TEST(SoftX87VersusFpu, TruncationAndConversions) {
  const std::uint64_t seed = Seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set KORVELLA_SOFT_X87_SEED to repeat)");
  for (const PairClass& pairClass : PairClasses()) {
    SCOPED_TRACE(pairClass.name);
    MismatchReport report;
    Rng rng(ClassSeed(seed, pairClass) ^ 1);
    for (int i = 0; i < kPairsPerClass; ++i) {
      const Bits a = pairClass.make(rng).first;
      unsigned softFlags = 0, fpuFlags = 0, frndintFlags = 0;
      const Bits soft = Truncate(a, softFlags);
      const Bits fpu = FpuTruncl(a, fpuFlags);
      const Bits frndint = FpuFrndint(a, frndintFlags);
      if (!Same(soft, fpu) || softFlags != fpuFlags || !Same(soft, frndint) ||
          (softFlags & kInvalid) != (frndintFlags & kInvalid)) {
        report("Truncate " + Hex(a) + ": " + Hex(soft) + " " + FlagText(softFlags) + ", truncl " +
               Hex(fpu) + " " + FlagText(fpuFlags) + ", frndint " + Hex(frndint) + " " +
               FlagText(frndintFlags));
      }
      softFlags = fpuFlags = 0;
      const std::int64_t softInteger = ToInt64(a, softFlags);
      const std::int64_t fpuInteger = FpuToInt64(a, fpuFlags);
      if (softInteger != fpuInteger || softFlags != fpuFlags) {
        report("ToInt64 " + Hex(a) + ": " + std::to_string(softInteger) + " " +
               FlagText(softFlags) + ", the FPU " + std::to_string(fpuInteger) + " " +
               FlagText(fpuFlags));
      }
      volatile long double value = ToLongDouble(a);
      const Bits negated = FromLongDouble(-value);
      if (!Same(Negate(a), negated))
        report("Negate " + Hex(a) + ": " + Hex(Negate(a)) + ", fchs " + Hex(negated));

      const volatile std::uint64_t unsignedInteger = rng() >> Below(rng, 64);
      const volatile auto signedInteger = static_cast<std::int64_t>(rng()) >> Below(rng, 64);
      const Bits fromUnsigned = FromLongDouble(static_cast<long double>(unsignedInteger));
      const Bits fromSigned = FromLongDouble(static_cast<long double>(signedInteger));
      if (!Same(FromUint64(unsignedInteger), fromUnsigned) ||
          !Same(FromInt64(signedInteger), fromSigned)) {
        report("FromUint64 " + std::to_string(unsignedInteger) + " or FromInt64 " +
               std::to_string(signedInteger));
      }
    }
  }
}

TEST(SoftX87VersusFpu, KnownResultsAreTheFpus) {
  for (const KnownCase& known : kKnownCases) {
    SCOPED_TRACE(known.what);
    unsigned flags = 0;
    EXPECT_EQ(Hex(Fpu(known.op, known.a, known.b, flags)), Hex(known.result));
    EXPECT_EQ(FlagText(flags), FlagText(known.flags));
  }
}

TEST(SoftX87VersusFpu, DigestIsTheFpus) {
  constexpr Arithmetic kFpuArithmetic{Fpu, FpuCompare, FpuTruncl, FpuToInt64};
  EXPECT_EQ(DigestOfResults(kFpuArithmetic), kFpuDigest);
}

#endif

}  // namespace
}  // namespace korvella::soft_x87
