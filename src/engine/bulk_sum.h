// DifferenceSum without the serial chain. While the running sum S stays in one
// binade [2^e, 2^(e+1)), adding a quotient q rounds to S plus a whole number of
// ulps of S that depends only on q and e (unless q's bits below the ulp are
// exactly one half, where the result would depend on S's last bit). So a block of
// pairs adds sum over d of count[d] * inc_d(e) ulps, the same bits the chain gives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "extended/extended.h"

namespace korvella {

// How many pairs of each PairDifference (index 0 is not used by the sum).
using DifferenceCounts = std::array<std::uint64_t, 256>;

// The rounded quotients d / tolerance, d = 0..255, exactly as the chain forms them.
struct QuotientTable {
  explicit QuotientTable(Extended tolerance);
  std::array<Extended, 256> quotient{};
};

// Adds the pairs counted in `counts` to `sum` in one step when that provably gives
// the bits of adding them one by one in any order; returns false, leaving `sum`
// alone, when it cannot (S below the quotients' range, an exact half, or a total
// that would leave the binade).
bool AddInBulk(Extended& sum, const DifferenceCounts& counts, const QuotientTable& quotients);

// The chain itself over a block of pairs: sum := (d / tolerance) + sum per
// unequal pair, in order.
void AddByChain(Extended& sum, const unsigned char* bytes1, const unsigned char* bytes2,
                std::size_t count, const QuotientTable& quotients);

// Adds a whole block of pairs whose difference counts are known: in bulk when
// possible, otherwise in smaller blocks, each in bulk or by the chain.
void AddDifferences(Extended& sum, const unsigned char* bytes1, const unsigned char* bytes2,
                    std::size_t count, const DifferenceCounts& counts,
                    const QuotientTable& quotients);

}  // namespace korvella
