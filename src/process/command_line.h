// The command line: the arguments as the program takes them, and the splitting of
// a single command-line string into tokens for systems that hand over only that.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace korvella {

inline constexpr std::size_t kMaxNameLength = 255;

// Keeps the arguments for the run, splitting the command line where the system
// hands over only that. ArgumentCount is the number of tokens minus one (-1 when
// there is none).
void TakeArguments(const platform::ProcessArguments& arguments);
int ArgumentCount();
// Argument n (from 1), cut to its first 255 bytes; empty outside 1..ArgumentCount.
std::string_view Argument(int n);

// Splits a command line into tokens, the program's own token first: bytes 1..32
// separate tokens outside quotes, a double quote toggles quoting, a doubled quote
// is dropped without toggling, and backslashes are ordinary bytes.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace korvella
