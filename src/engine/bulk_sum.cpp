#include "engine/bulk_sum.h"

#include <algorithm>

#include "engine/scores.h"

namespace korvella {
namespace {

__extension__ typedef unsigned __int128 Wide;

// Blocks that the fallback splits a block into; small enough that the chain over
// one (where the binade changes) costs little.
constexpr std::size_t kFallbackBlock = 64 * 1024;

// The exponent field alone: the sums and quotients here are never negative.
int ExponentOf(const ExtendedBits& bits) { return bits.signAndExponent & 0x7FFF; }

// q in ulps of a sum whose exponent field is `sumExponent`, rounded to nearest;
// false when the part below the ulp is exactly one half.
bool UlpsOf(Extended q, int sumExponent, std::uint64_t& ulps) {
  const ExtendedBits parts = q.Bits();
  const int shift = sumExponent - ExponentOf(parts);  // q's significand >> shift
  if (shift < 0) return false;                        // q at least as large as the sum's binade
  if (shift >= 66) {
    ulps = 0;  // below a quarter ulp
    return true;
  }
  const Wide scaled = static_cast<Wide>(parts.significand) << 2;  // two guard bits
  const Wide whole = scaled >> (shift + 2);
  const Wide below = scaled - (whole << (shift + 2));
  const Wide half = static_cast<Wide>(1) << (shift + 1);
  if (below == half) return false;
  ulps = static_cast<std::uint64_t>(whole + (below > half ? 1 : 0));
  return true;
}

}  // namespace

QuotientTable::QuotientTable(Extended tolerance) {
  for (int d = 0; d < 256; ++d) quotient[static_cast<std::size_t>(d)] = Extended(d) / tolerance;
}

bool AddInBulk(Extended& sum, const DifferenceCounts& counts, const QuotientTable& quotients) {
  // Equal pairs leave the sum untouched, whatever it is.
  if (std::all_of(counts.begin() + 1, counts.end(), [](std::uint64_t n) { return n == 0; }))
    return true;
  const ExtendedBits s = sum.Bits();
  const int exponent = ExponentOf(s);
  // A positive normal sum: its significand carries the integer bit.
  if (exponent == 0 || exponent == 0x7FFF || (s.significand >> 63) == 0 ||
      (s.signAndExponent & 0x8000) != 0) {
    return false;
  }
  Wide total = 0;
  for (std::size_t d = 1; d < 256; ++d) {
    if (counts[d] == 0) continue;
    std::uint64_t ulps = 0;
    if (!UlpsOf(quotients.quotient[d], exponent, ulps)) return false;
    total += static_cast<Wide>(counts[d]) * ulps;
  }
  // Every partial sum lies between S and the final one: all stay in the binade
  // exactly when the final one does.
  const Wide result = static_cast<Wide>(s.significand) + total;
  if (result >> 64 != 0) return false;
  sum = Extended::FromBits(false, static_cast<std::uint16_t>(exponent),
                           static_cast<std::uint64_t>(result));
  return true;
}

void AddByChain(Extended& sum, const unsigned char* bytes1, const unsigned char* bytes2,
                std::size_t count, const QuotientTable& quotients) {
  Extended s = sum;
  for (std::size_t i = 0; i < count; ++i) {
    const int d = PairDifference(bytes1[i], bytes2[i]);
    if (d > 0) s = quotients.quotient[static_cast<std::size_t>(d)] + s;
  }
  sum = s;
}

void AddDifferences(Extended& sum, const unsigned char* bytes1, const unsigned char* bytes2,
                    std::size_t count, const DifferenceCounts& counts,
                    const QuotientTable& quotients) {
  if (AddInBulk(sum, counts, quotients)) return;
  // Block by block up to where the binade changes; after each block, what is left
  // of the counts may fit in one step again.
  DifferenceCounts rest = counts;
  for (std::size_t start = 0; start < count; start += kFallbackBlock) {
    const std::size_t length = std::min(count - start, kFallbackBlock);
    DifferenceCounts blockCounts{};
    for (std::size_t i = start; i < start + length; ++i) {
      ++blockCounts[static_cast<std::size_t>(PairDifference(bytes1[i], bytes2[i]))];
    }
    if (!AddInBulk(sum, blockCounts, quotients)) {
      AddByChain(sum, bytes1 + start, bytes2 + start, length, quotients);
    }
    for (std::size_t d = 0; d < rest.size(); ++d) rest[d] -= blockCounts[d];
    if (start + length < count && AddInBulk(sum, rest, quotients)) return;
  }
}

}  // namespace korvella
