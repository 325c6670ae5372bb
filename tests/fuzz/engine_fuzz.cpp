// Two arbitrary buffers (the input cut in half) and a starting sum: the fast
// counting and summing must give the plain sweep's bits.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/bulk_sum.h"
#include "engine/engine.h"
#include "engine/scores.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // The first two bytes pick a starting sum: zero, or one near a power of two.
  long double start = 0;
  if (data[0] & 1) start = std::ldexp(1.0L, data[0] >> 1) - static_cast<long double>(data[1]) / 16;
  if (!(start >= 0)) start = 0;
  data += 2;
  size -= 2;
  const std::size_t n = size / 2;
  const unsigned char* a = data;
  const unsigned char* b = data + n;

  korvella::PassTotals plain, fast;
  plain.DifferenceSum = start;
  fast.DifferenceSum = start;
  korvella::AccumulatePlain(a, b, n, 24.0L, plain);
  if (n > 0) korvella::AccumulateFast(a, b, n, 24.0L, fast);
  if (plain.Histogram1 != fast.Histogram1 || plain.Histogram2 != fast.Histogram2) std::abort();
  if (std::memcmp(&plain.DifferenceSum, &fast.DifferenceSum, 10) != 0) std::abort();
  return 0;
}
