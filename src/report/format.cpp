#include "report/format.h"

#include <algorithm>
#include <array>

namespace korvella {
namespace {

constexpr int DigitBudget = 17;
// Enough quotients for the largest finite 80-bit value (about 1.19e4932).
constexpr int kMaxQuotients = 4940;

// The digit string: a carry position in front, then the digits computed so far.
class DigitString {
 public:
  void Append(int digit) {
    // A digit of 10 is written as 0 with a unit carried into the one before it.
    if (digit >= 10) {
      digits_[count_++] = 0;
      AddUnitAt(count_ - 2);
    } else {
      digits_[count_++] = static_cast<std::uint8_t>(digit < 0 ? 0 : digit);
    }
  }
  void AddUnitAtLast() { AddUnitAt(count_ - 1); }
  // The digits after the carry position, the carry included when it was used.
  bool CarryUsed() const { return carry_ != 0; }
  int Count() const { return count_; }
  int At(int i) const { return digits_[i]; }

 private:
  // Index -1 is the carry position.
  void AddUnitAt(int index) {
    while (index >= 0) {
      if (++digits_[index] <= 9) return;
      digits_[index] = 0;
      --index;
    }
    carry_ = 1;
  }
  std::array<std::uint8_t, DigitBudget + 1> digits_{};
  int count_ = 0;
  int carry_ = 0;
};

// A digit from a value that is one for every finite input; anything stranger
// (operands the x87 refuses) still gives a digit.
int DigitOf(Extended v) {
  if (!(v >= 0)) return 0;
  if (!(v <= 10)) return 10;
  return TruncateToInt(v);
}

}  // namespace

std::string FormatFixed(Extended value, int fractionDigits) {
  const ExtendedBits bits = value.Bits();
  const bool negative = (bits.signAndExponent & 0x8000) != 0;
  if ((bits.signAndExponent & 0x7FFF) == 0x7FFF) {
    if ((bits.significand & 0x7FFFFFFFFFFFFFFFu) != 0) return "Nan";
    return negative ? "-Inf" : "+Inf";
  }
  const Extended a = Extended::FromBits(false, bits.signAndExponent & 0x7FFF, bits.significand);
  const Extended slack = Extended::FromBits(false, 0x3FC0, 0x800000000759A1CEu);
  const Extended tenth = Extended::FromBits(false, 0x3FFB, 0xCCCCCCCCCCCCCCCDu);

  int f = std::min(fractionDigits, DigitBudget);
  DigitString digits;
  int n = DigitBudget;
  int exponent = 0;
  const Extended t = 1 - slack;

  // Integer digits, from the quotients a, a/10, a/100, ... that exceed t.
  static_assert(kMaxQuotients > 4933);
  // Scratch for the quotients, filled before it is read; static, since the largest
  // values need thousands of them (formatting runs on the main thread only).
  static std::array<Extended, kMaxQuotients> quotients;
  int k = 0;
  for (Extended q = a; q > t && k < kMaxQuotients; q = q / 10) quotients[k++] = q;
  if (k >= 1) {
    exponent = k - 1;
    Extended c;
    for (int i = k; i >= 1; --i) {
      const Extended q = quotients[i - 1];
      if (n > 0) {
        digits.Append(DigitOf(Trunc(q - c)));
        --n;
      } else {
        if (DigitOf(Trunc(q - c)) >= 5) digits.AddUnitAtLast();
        n = -1;
        break;
      }
      c = Trunc(q) * 10;
    }
  }

  Extended r = a > t ? Frac(a) : a;
  if (f < n) n = f;

  if (k == 0 && r != 0) {
    const Extended below = tenth - slack;
    while (r < below) {
      r = r * 10;
      --exponent;
      --n;
    }
    --exponent;
  }

  if (n >= 0) {
    Extended p = 1;
    for (int i = 0; i < n; ++i) p = p * 10;
    const Extended h = Extended::FromBits(false, 0x3FFE, 0x8000000000000000u) / p;  // 0.5 / p
    r = (slack * r) + r;
    if (r >= h) r = h + r;
    if (Trunc(r) == 1) {
      digits.AddUnitAtLast();
      r = Frac(r);
    }
  }
  for (int i = 0; i < n; ++i) {
    r = r >= 1 ? Frac(r) * 10 : r * 10;
    digits.Append(DigitOf(Trunc(r)));
  }

  // The digit string G, with the carry position in front when it was used.
  std::array<std::uint8_t, DigitBudget + 2> g{};
  int gCount = 0;
  if (digits.CarryUsed()) {
    g[gCount++] = 1;
    ++exponent;
  }
  for (int i = 0; i < digits.Count(); ++i) g[gCount++] = static_cast<std::uint8_t>(digits.At(i));
  const auto digitAt = [&](int i) { return static_cast<char>('0' + (i < gCount ? g[i] : 0)); };

  std::string text;
  if (negative) text.push_back('-');
  if (f < 0) f = 0;
  if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) text.push_back(digitAt(i));
    text.push_back('.');
    for (int i = 0; i < f; ++i) text.push_back(digitAt(exponent + 1 + i));
  } else {
    text += "0.";
    const int zeros = -exponent - 1;
    for (int i = 0; i < f; ++i) text.push_back(i < zeros ? '0' : digitAt(i - zeros));
  }
  return text;
}

std::string FormatCount(std::uint64_t count) {
  std::array<char, 20> digits{};
  std::size_t used = 0;
  do {
    digits[digits.size() - ++used] = static_cast<char>('0' + count % 10);
    count /= 10;
  } while (count != 0);
  return {digits.data() + digits.size() - used, used};
}

}  // namespace korvella
