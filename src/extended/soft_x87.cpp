#include "extended/soft_x87.h"

namespace korvella::soft_x87 {
namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr int kBias = 16383;
constexpr int kMaxExponentField = 0x7FFF;
constexpr std::uint16_t kSignBit = 0x8000;
constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 62;
constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
// The "real indefinite" QNaN that every invalid operation gives.
constexpr Bits kIndefinite{0xC000000000000000, 0xFFFF};

enum class Kind { kZero, kFinite, kInfinity, kNaN, kUnsupported };

// An operand taken apart. A finite value is significand * 2^(exponent - kBias - 63)
// with bit 63 of the significand set: denormals are normalized here, so past the
// operand checks nothing needs to know about them.
struct Operand {
  Kind kind;
  bool negative;
  bool denormal;  // also a pseudo-denormal
  int exponent;
  std::uint64_t significand;
  Bits bits;
};

int LeadingZeros(std::uint64_t v) { return __builtin_clzll(v); }

Operand Unpack(Bits bits) {
  Operand operand{Kind::kFinite,
                  (bits.signExponent & kSignBit) != 0,
                  false,
                  bits.signExponent & 0x7FFF,
                  bits.significand,
                  bits};
  const bool integerBit = (bits.significand & kIntegerBit) != 0;
  if (operand.exponent == kMaxExponentField) {
    if (!integerBit) {
      operand.kind = Kind::kUnsupported;  // pseudo-infinity, pseudo-NaN
    } else {
      operand.kind = (bits.significand << 1) == 0 ? Kind::kInfinity : Kind::kNaN;
    }
  } else if (operand.exponent == 0) {
    if (bits.significand == 0) {
      operand.kind = Kind::kZero;
    } else {
      // A denormal and a pseudo-denormal both scale by 2^(1 - kBias - 63).
      operand.denormal = true;
      const int shift = LeadingZeros(bits.significand);
      operand.significand <<= shift;
      operand.exponent = 1 - shift;
    }
  } else if (!integerBit) {
    operand.kind = Kind::kUnsupported;  // unnormal, pseudo-zero
  }
  return operand;
}

bool IsSignaling(const Operand& operand) {
  return operand.kind == Kind::kNaN && (operand.significand & kQuietBit) == 0;
}

Bits Quiet(Bits nan) { return {nan.significand | kQuietBit, nan.signExponent}; }

Bits SignedInfinity(bool negative) {
  return {kIntegerBit, static_cast<std::uint16_t>((negative ? kSignBit : 0) | kMaxExponentField)};
}

Bits SignedZero(bool negative) { return {0, negative ? kSignBit : std::uint16_t{0}}; }

// The checks that come before any arithmetic, in the x87's order: an unsupported
// operand gives the indefinite even beside a NaN; a NaN operand wins over every
// later exception (no kDenormal, no kZeroDivide). Of two NaNs the one with the
// larger significand is kept (so a quiet one over a signaling one), the positive
// one on a tie. Returns true with `result` set when the operation ends here.
bool TakeInvalidOrNaN(const Operand& a, const Operand& b, unsigned& flags, Bits& result) {
  if (a.kind == Kind::kUnsupported || b.kind == Kind::kUnsupported) {
    flags |= kInvalid;
    result = kIndefinite;
    return true;
  }
  if (a.kind != Kind::kNaN && b.kind != Kind::kNaN) return false;
  if (IsSignaling(a) || IsSignaling(b)) flags |= kInvalid;
  if (a.kind != Kind::kNaN) {
    result = Quiet(b.bits);
  } else if (b.kind != Kind::kNaN) {
    result = Quiet(a.bits);
  } else if (a.bits.significand != b.bits.significand) {
    result = Quiet(a.bits.significand > b.bits.significand ? a.bits : b.bits);
  } else {
    result = Quiet(a.negative ? b.bits : a.bits);
  }
  return true;
}

void NoteDenormals(const Operand& a, const Operand& b, unsigned& flags) {
  if (a.denormal || b.denormal) flags |= kDenormal;
}

// Shifts right, folding every bit shifted out into bit 0 so rounding still sees it.
Uint128 ShiftRightSticky(Uint128 v, int shift) {
  if (shift <= 0) return v;
  if (shift >= 128) return v != 0 ? 1 : 0;
  const bool lost = (v << (128 - shift)) != 0;
  return (v >> shift) | (lost ? 1 : 0);
}

// Rounds the exact value significand * 2^(exponent - kBias - 127) to 64 bits,
// nearest even; the significand is nonzero, and its bit 0 may stand for any
// nonzero bits below it. Tininess is
// detected after rounding: a value just under the smallest normal that rounds up
// to it does not raise kUnderflow. A tiny result is denormalized before it is
// rounded, so it is rounded only once.
Bits RoundAndPack(bool negative, int exponent, Uint128 significand, unsigned& flags) {
  const auto top = static_cast<std::uint64_t>(significand >> 64);
  const int shift =
      top != 0 ? LeadingZeros(top) : 64 + LeadingZeros(static_cast<std::uint64_t>(significand));
  significand <<= shift;
  exponent -= shift;

  const std::uint16_t sign = negative ? kSignBit : 0;
  auto roundsUp = [](std::uint64_t high, std::uint64_t low) {
    return low > kHalf || (low == kHalf && (high & 1) != 0);
  };
  if (exponent < 1) {
    const auto normalHigh = static_cast<std::uint64_t>(significand >> 64);
    const auto normalLow = static_cast<std::uint64_t>(significand);
    const bool reachesNormal =
        exponent == 0 && normalHigh == ~std::uint64_t{0} && roundsUp(normalHigh, normalLow);
    significand = ShiftRightSticky(significand, 1 - exponent);
    auto high = static_cast<std::uint64_t>(significand >> 64);
    const auto low = static_cast<std::uint64_t>(significand);
    if (low != 0) {
      flags |= kPrecision;
      if (!reachesNormal) flags |= kUnderflow;
    }
    if (roundsUp(high, low)) ++high;  // cannot wrap: bit 63 was clear
    // Rounding up to 2^-16382 gives the smallest normal, not a pseudo-denormal.
    const std::uint16_t field = (high & kIntegerBit) != 0 ? 1 : 0;
    return {high, static_cast<std::uint16_t>(sign | field)};
  }
  auto high = static_cast<std::uint64_t>(significand >> 64);
  const auto low = static_cast<std::uint64_t>(significand);
  if (low != 0) flags |= kPrecision;
  if (roundsUp(high, low)) {
    ++high;
    if (high == 0) {
      high = kIntegerBit;
      ++exponent;
    }
  }
  if (exponent >= kMaxExponentField) {
    flags |= kOverflow | kPrecision;
    return SignedInfinity(negative);
  }
  return {high, static_cast<std::uint16_t>(sign | exponent)};
}

Bits AddSigned(Bits aBits, Bits bBits, bool subtract, unsigned& flags) {
  Operand a = Unpack(aBits);
  Operand b = Unpack(bBits);
  Bits result{};
  if (TakeInvalidOrNaN(a, b, flags, result)) return result;
  if (subtract) b.negative = !b.negative;  // after the NaN rules: a NaN keeps its sign
  if (a.kind == Kind::kInfinity || b.kind == Kind::kInfinity) {
    if (a.kind == Kind::kInfinity && b.kind == Kind::kInfinity && a.negative != b.negative) {
      flags |= kInvalid;
      return kIndefinite;
    }
    NoteDenormals(a, b, flags);
    return SignedInfinity(a.kind == Kind::kInfinity ? a.negative : b.negative);
  }
  NoteDenormals(a, b, flags);
  if (a.kind == Kind::kZero && b.kind == Kind::kZero) {
    return SignedZero(a.negative && b.negative);  // (+0) + (-0) is +0 rounding to nearest
  }
  if (b.kind == Kind::kZero)
    return RoundAndPack(a.negative, a.exponent, Uint128{a.significand} << 64, flags);
  if (a.kind == Kind::kZero)
    return RoundAndPack(b.negative, b.exponent, Uint128{b.significand} << 64, flags);

  if (a.exponent < b.exponent || (a.exponent == b.exponent && a.significand < b.significand)) {
    const Operand larger = b;
    b = a;
    a = larger;
  }
  // The larger magnitude sits at bits 125..62, leaving room for a carry; the
  // smaller one keeps 62 bits below its last one before anything turns sticky,
  // enough for the one-bit cancellation that can follow.
  const Uint128 larger = Uint128{a.significand} << 62;
  const Uint128 smaller = ShiftRightSticky(Uint128{b.significand} << 62, a.exponent - b.exponent);
  if (a.negative == b.negative)
    return RoundAndPack(a.negative, a.exponent + 2, larger + smaller, flags);
  const Uint128 difference = larger - smaller;
  if (difference == 0) return SignedZero(false);  // x - x is +0 rounding to nearest
  return RoundAndPack(a.negative, a.exponent + 2, difference, flags);
}

}  // namespace

Bits Add(Bits a, Bits b, unsigned& flags) { return AddSigned(a, b, false, flags); }

Bits Subtract(Bits a, Bits b, unsigned& flags) { return AddSigned(a, b, true, flags); }

Bits Multiply(Bits aBits, Bits bBits, unsigned& flags) {
  const Operand a = Unpack(aBits);
  const Operand b = Unpack(bBits);
  Bits result{};
  if (TakeInvalidOrNaN(a, b, flags, result)) return result;
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::kInfinity || b.kind == Kind::kInfinity) {
    if (a.kind == Kind::kZero || b.kind == Kind::kZero) {
      flags |= kInvalid;
      return kIndefinite;
    }
    NoteDenormals(a, b, flags);
    return SignedInfinity(negative);
  }
  NoteDenormals(a, b, flags);
  if (a.kind == Kind::kZero || b.kind == Kind::kZero) return SignedZero(negative);
  const Uint128 product = Uint128{a.significand} * b.significand;
  return RoundAndPack(negative, a.exponent + b.exponent - kBias + 1, product, flags);
}

Bits Divide(Bits aBits, Bits bBits, unsigned& flags) {
  const Operand a = Unpack(aBits);
  const Operand b = Unpack(bBits);
  Bits result{};
  if (TakeInvalidOrNaN(a, b, flags, result)) return result;
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::kInfinity) {
    if (b.kind == Kind::kInfinity) {
      flags |= kInvalid;
      return kIndefinite;
    }
    NoteDenormals(a, b, flags);
    return SignedInfinity(negative);
  }
  if (b.kind == Kind::kInfinity) {
    NoteDenormals(a, b, flags);
    return SignedZero(negative);
  }
  if (b.kind == Kind::kZero) {
    if (a.kind == Kind::kZero) {
      flags |= kInvalid;
      return kIndefinite;
    }
    // Division by zero is found before a denormal dividend is noted.
    flags |= kZeroDivide;
    return SignedInfinity(negative);
  }
  NoteDenormals(a, b, flags);
  if (a.kind == Kind::kZero) return SignedZero(negative);
  // 64 quotient bits from the first step (bit 63 set either way), 64 more from
  // the second, and the last remainder as the sticky bit.
  const bool atLeastOne = a.significand >= b.significand;
  const Uint128 numerator = Uint128{a.significand} << (atLeastOne ? 63 : 64);
  const Uint128 high = numerator / b.significand;
  const Uint128 remainder = numerator % b.significand;
  const Uint128 low = (remainder << 64) / b.significand;
  const bool lost = (remainder << 64) % b.significand != 0;
  const Uint128 quotient = (high << 64) | low | (lost ? 1 : 0);
  return RoundAndPack(negative, a.exponent - b.exponent + kBias - (atLeastOne ? 0 : 1), quotient,
                      flags);
}

namespace {

Order CompareOperands(Bits aBits, Bits bBits, bool quiet, unsigned& flags) {
  const Operand a = Unpack(aBits);
  const Operand b = Unpack(bBits);
  if (a.kind == Kind::kUnsupported || b.kind == Kind::kUnsupported) {
    flags |= kInvalid;
    return Order::Unordered;
  }
  if (a.kind == Kind::kNaN || b.kind == Kind::kNaN) {
    if (!quiet || IsSignaling(a) || IsSignaling(b)) flags |= kInvalid;
    return Order::Unordered;
  }
  NoteDenormals(a, b, flags);
  // Magnitudes ordered as (class, exponent, significand); zeros of both signs are equal.
  auto rank = [](const Operand& x) {
    return x.kind == Kind::kZero ? 0 : x.kind == Kind::kFinite ? 1 : 2;
  };
  if (rank(a) == 0 && rank(b) == 0) return Order::Equal;
  auto magnitudeLess = [&](const Operand& x, const Operand& y) {
    if (rank(x) != rank(y)) return rank(x) < rank(y);
    if (rank(x) != 1) return false;
    if (x.exponent != y.exponent) return x.exponent < y.exponent;
    return x.significand < y.significand;
  };
  const bool aNegative = a.kind != Kind::kZero && a.negative;
  const bool bNegative = b.kind != Kind::kZero && b.negative;
  if (aNegative != bNegative) return aNegative ? Order::Less : Order::Greater;
  if (magnitudeLess(a, b)) return aNegative ? Order::Greater : Order::Less;
  if (magnitudeLess(b, a)) return aNegative ? Order::Less : Order::Greater;
  return Order::Equal;
}

}  // namespace

Order Compare(Bits a, Bits b, unsigned& flags) { return CompareOperands(a, b, false, flags); }

Order CompareQuiet(Bits a, Bits b, unsigned& flags) { return CompareOperands(a, b, true, flags); }

Bits FromUint64(std::uint64_t v) {
  if (v == 0) return {0, 0};
  const int shift = LeadingZeros(v);
  return {v << shift, static_cast<std::uint16_t>(kBias + 63 - shift)};
}

Bits FromInt64(std::int64_t v) {
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  const std::uint64_t magnitude =
      v < 0 ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
  Bits bits = FromUint64(magnitude);
  if (v < 0) bits.signExponent |= kSignBit;
  return bits;
}

Bits Truncate(Bits aBits, unsigned& flags) {
  const Operand a = Unpack(aBits);
  switch (a.kind) {
    case Kind::kUnsupported: flags |= kInvalid; return kIndefinite;
    case Kind::kNaN:
      if (IsSignaling(a)) flags |= kInvalid;
      return Quiet(aBits);
    case Kind::kZero:
    case Kind::kInfinity: return aBits;
    case Kind::kFinite: break;
  }
  const int fractionBits = kBias + 63 - a.exponent;
  if (fractionBits <= 0) return aBits;
  if (fractionBits > 63) return SignedZero(a.negative);
  const std::uint64_t whole = a.significand & (~std::uint64_t{0} << fractionBits);
  return {whole, aBits.signExponent};
}

std::int64_t ToInt64(Bits aBits, unsigned& flags) {
  constexpr auto kIndefiniteInteger = static_cast<std::int64_t>(kIntegerBit);
  const Operand a = Unpack(aBits);
  if (a.kind == Kind::kZero) return 0;
  if (a.kind != Kind::kFinite) {
    flags |= kInvalid;
    return kIndefiniteInteger;
  }
  const int fractionBits = kBias + 63 - a.exponent;
  if (fractionBits > 63) {
    flags |= kPrecision;
    return 0;
  }
  if (fractionBits <= 0) {
    // Only -2^63 fits with 64 integer bits.
    if (fractionBits == 0 && a.negative && a.significand == kIntegerBit) return kIndefiniteInteger;
    flags |= kInvalid;
    return kIndefiniteInteger;
  }
  const std::uint64_t magnitude = a.significand >> fractionBits;
  if ((a.significand << (64 - fractionBits)) != 0) flags |= kPrecision;
  const std::uint64_t value = a.negative ? ~magnitude + 1 : magnitude;
  return static_cast<std::int64_t>(value);
}

Bits Negate(Bits a) {
  return {a.significand, static_cast<std::uint16_t>(a.signExponent ^ kSignBit)};
}

}  // namespace korvella::soft_x87
