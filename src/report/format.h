// The only two renderings of numbers in the output. FormatFixed is a fixed
// procedure in 80-bit arithmetic, not a rounding of the value: its digits are part
// of the output contract and differ from exact rounding near halfway points.
#pragma once

#include <cstdint>
#include <string>

#include "extended/extended.h"

namespace korvella {

// The value in fixed-point notation with `fractionDigits` digits after the point
// (at most 17 are computed); "+Inf", "-Inf" or "Nan" for values that are not finite.
std::string FormatFixed(Extended value, int fractionDigits);

// The count in decimal, without sign, blanks or separators.
std::string FormatCount(std::uint64_t count);

}  // namespace korvella
