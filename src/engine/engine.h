// The comparison run: reads the compared length of both inputs side by side in
// passes of at most ChunkSize bytes and sets both scores of the result.
#pragma once

#include <cstdint>

#include "engine/scores.h"

namespace korvella {

inline constexpr std::uint64_t ChunkSize = 8u << 20;

// Needs both inputs open at their first byte and ComparedLength >= 1. Ends the run
// with "Error reading file " when a file delivers less than asked, or through the
// failure report when a read fails.
void RunComparison();

// The totals of the last run (histograms and DifferenceSum), for inspection.
const PassTotals& LastTotals();

}  // namespace korvella
