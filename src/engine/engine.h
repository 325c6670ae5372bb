// The comparison run: reads the compared length of both inputs side by side in
// passes of at most ChunkSize bytes and sets both scores of the result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/scores.h"

namespace korvella {

inline constexpr std::uint64_t ChunkSize = 8u << 20;

// Needs both inputs open at their first byte and ComparedLength >= 1. Ends the run
// with "Error reading file " when a file delivers less than asked, or through the
// failure report when a read fails. Large inputs are counted by two threads while
// the next pass is read; the results are those of the plain pair-by-pair sweep.
void RunComparison();

// The totals of the last run (histograms and DifferenceSum), for inspection.
const PassTotals& LastTotals();

// The fast counting and summing on bytes in memory, one thread, in pieces of at
// most ChunkSize pairs: the same bits as AccumulatePlain.
void AccumulateFast(const unsigned char* bytes1, const unsigned char* bytes2, std::size_t count,
                    long double tolerance, PassTotals& totals);

}  // namespace korvella
