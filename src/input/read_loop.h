// The comparison run: reads the compared length of both inputs side by side and
// feeds the engine, reading ahead while the engine counts.
#pragma once

#include <cstddef>

namespace korvella {

// Bytes asked of each file in one request, and fed to the engine as one piece.
// Measured on 1 GiB pairs: smaller pieces cost more in the engine's per-piece work
// (taking the pair tables apart) than they save in cache misses; larger ones
// gain nothing and need more memory.
inline constexpr std::size_t kReadRequest = 1024 * 1024;

// Needs both inputs open at their first byte and ComparedLength >= 1; sets both
// scores of the result. Ends the run with "Error reading file " and the name of
// the file that delivered less than asked (file 1 is read first), or through the
// failure report when a read fails.
void RunComparison();

}  // namespace korvella
