// The comparison run: reads the compared length of both inputs side by side and
// feeds the engine, reading ahead while the engine counts.
#pragma once

#include <cstddef>

namespace korvella {

// Bytes asked of each file in one request. Small enough for a request's bytes to
// be counted while they are still in the caches.
inline constexpr std::size_t kReadRequest = 256 * 1024;

// Needs both inputs open at their first byte and ComparedLength >= 1; sets both
// scores of the result. Ends the run with "Error reading file " and the name of
// the file that delivered less than asked (file 1 is read first), or through the
// failure report when a read fails.
void RunComparison();

}  // namespace korvella
