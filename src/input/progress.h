// Progress of a long comparison on a terminal: one line on standard error,
// rewritten in place, erased before anything else is printed. Never on a pipe or
// a file, and never part of the output that scripts read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvella {

class Progress {
 public:
  // Asks once whether standard error is a terminal, and notes the time.
  void Begin(std::uint64_t total);
  // `done` of the total bytes have been read. Costs a clock read; draws at most a
  // few times a second, from the first second on.
  void Update(std::uint64_t done);
  // Takes the line back, so that what follows starts on a clean line.
  void Erase();

 private:
  void Show(const std::string& text);
  bool active_ = false;
  std::uint64_t total_ = 0;
  std::uint64_t start_ = 0;
  std::uint64_t nextDraw_ = 0;
  std::size_t shown_ = 0;  // length of the line on the terminal
};

// The line: share done, bytes so far and total (binary units), throughput and,
// once it can be told, the time left. For example
// "43% 4.3 GiB of 10.0 GiB, 512.0 MiB/s, 0:12 left".
std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs);

}  // namespace korvella
