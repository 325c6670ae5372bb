// Any 10-byte pattern as an 80-bit value: FormatFixed must not crash, and in
// [0, 100) its 15 places must be the exact value rounded half up, except within
// 2e-19 of a halfway point.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "report/format.h"
#include "support/exact_decimal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 10) return 0;
  std::uint64_t significand = 0;
  std::uint16_t signAndExponent = 0;
  std::memcpy(&significand, data, 8);
  std::memcpy(&signAndExponent, data + 8, 2);
  const korvella::Extended value = korvella::Extended::FromBits(
      (signAndExponent & 0x8000) != 0, signAndExponent & 0x7FFF, significand);
  const int digits = size > 10 ? 1 + data[10] % 17 : 15;
  const std::string text = korvella::FormatFixed(value, digits);
  if (text.empty()) std::abort();
  const bool normal = (data[7] & 0x80) != 0;  // integer bit set: no unnormal
  if (normal && value >= 0 && value < 100) {
    const auto exact = korvella::testing::RoundExactly(value);
    const std::string fifteen = korvella::FormatFixed(value, 15);
    if (!exact.nearHalfway && fifteen != exact.text) {
      std::fprintf(stderr, "FormatFixed gave %s, exact rounding %s\n", fifteen.c_str(),
                   exact.text.c_str());
      std::abort();
    }
  }
  return 0;
}
