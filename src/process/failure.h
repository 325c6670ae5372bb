// How a run ends: the two standard-output streams, the check after every file and
// console operation, the failure report, the usage exit and the exit sequence.
#pragma once

#include <cstdint>

#include "output/text_writer.h"
#include "platform/platform.h"

namespace korvella {

// The program's own standard-output stream (messages and the report).
TextWriter& ConsoleOut();

// Sets the process up: descriptors, signals, the floating-point setting and both
// standard-output streams. First thing in main.
void StartRun();

// Ends the run through AbortRun when a failure is pending; the location is the
// point just after this call in its caller.
void CheckIo();

// Writes the failure report (code, location, one line per call level up to the
// start-up code, an empty line) and ends the process with `code` as its status.
[[noreturn]] void AbortRun(std::uint16_t code, const platform::FailureSite& site);

// Prints the banner (only without arguments) and the usage line, ends with status 1.
[[noreturn]] void ShowUsage();

// The exit sequence: writes out the program's stream, then the failure report's,
// then ends the process. A complete run whose output could not be written out
// ends with 101 instead of 0.
[[noreturn]] void EndRun(int status);

}  // namespace korvella
