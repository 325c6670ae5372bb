// What a complete run leaves behind: the four report lines on standard output and
// one line appended to korvella.log.
#pragma once

#include <string_view>

namespace korvella {

inline constexpr std::string_view LogFileName = "korvella.log";
// How long a run waits for another run that is appending to the log.
inline constexpr int kLogLockWaitMilliseconds = 10'000;

// Prints size and scores, then closes both inputs.
void WriteConsoleReport();

// Appends the summary line to korvella.log, creating it when absent. Earlier
// content is never read, rewritten or shortened.
void AppendLogLine();

}  // namespace korvella
