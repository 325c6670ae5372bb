// The two files being compared: names, open files and sizes; opening with its
// messages, the block read, closing, and the exit taken on a short read.
#pragma once

#include <cstdint>
#include <string_view>

#include "extended/extended.h"
#include "platform/platform.h"

namespace korvella {

struct Name {
  char bytes[255];
  std::uint8_t length = 0;
  std::string_view View() const { return {bytes, length}; }
};

struct InputPair {
  Name Name1;
  Name Name2;
  platform::FileHandle File1 = platform::kNoFile;
  platform::FileHandle File2 = platform::kNoFile;
  std::uint64_t Size1 = 0;
  std::uint64_t Size2 = 0;
};

// What a comparison found. AverageScore is derived where it is needed.
struct ComparisonResult {
  std::uint64_t ComparedLength = 0;
  Extended Tolerance;
  Extended PreciseScore;
  Extended StatisticalScore;
};

// The run's one instance of each.
InputPair& Inputs();
ComparisonResult& Result();

// Accepts exactly two different names (cut to 255 bytes) or ends through ShowUsage.
void CheckArguments();

// Opens and measures both inputs, refuses empty ones, warns about differing sizes,
// and sets ComparedLength and Tolerance. Returns only with both files open.
void OpenInputs();

// Reads up to `count` bytes at the file's position; a short count means the end of
// the file came first. A failure is left pending for CheckIo.
std::int32_t ReadBlock(platform::FileHandle file, unsigned char* buffer, std::int32_t count);

// Closes both inputs; standard input stays open.
void CloseInputs();

// "Error reading file " and the name, both inputs closed, status 1.
[[noreturn]] void ReportReadError(std::string_view name);

}  // namespace korvella
