// Any bytes as a command line: splitting must not crash, and no token can hold a
// double quote (single quotes toggle, doubled ones vanish).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "process/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  std::size_t total = 0;
  for (const auto& token : korvella::SplitCommandLine(line)) {
    if (token.find('"') != std::string::npos || token.find('\0') != std::string::npos) std::abort();
    total += token.size();
  }
  if (total > size) std::abort();
  return 0;
}
