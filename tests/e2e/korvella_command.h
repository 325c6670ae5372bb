// The command that starts the built korvella on Linux: the program itself, or,
// in a cross build, the emulator that runs it.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace korvella::testing {

inline std::vector<std::string> KorvellaCommand() {
  std::vector<std::string> command;
  if (!std::string(KORVELLA_EMULATOR).empty()) command.emplace_back(KORVELLA_EMULATOR);
  command.emplace_back(KORVELLA_BINARY);
  return command;
}

// Has korvella load the fault shim. Under the emulator (qemu-user) the library is
// for the emulated program only: the emulator and its wrapper script are host
// programs, which could not load it.
inline void PreloadIntoKorvella(const char* library) {
  if (KorvellaCommand().size() == 1) {
    setenv("LD_PRELOAD", library, 1);
  } else {
    setenv("QEMU_SET_ENV", ("LD_PRELOAD=" + std::string(library)).c_str(), 1);
  }
}

}  // namespace korvella::testing
