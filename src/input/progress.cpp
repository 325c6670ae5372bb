#include "input/progress.h"

#include "platform/platform.h"

namespace korvella {
namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr std::uint64_t kFirstDrawMs = 1000;
constexpr std::uint64_t kRedrawMs = 250;

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

// Bytes in the largest binary unit that keeps the number at or above 1, one decimal.
std::string Bytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  std::size_t unit = 0;
  Wide size = 1;
  while (unit + 1 < std::size(kUnits) && bytes >= size * 1024) {
    size *= 1024;
    ++unit;
  }
  if (unit == 0) return Decimal(bytes) + " B";
  const auto tenths = static_cast<std::uint64_t>(static_cast<Wide>(bytes) * 10 / size);
  return Decimal(tenths / 10) + "." + Decimal(tenths % 10) + " " + kUnits[unit];
}

std::string Duration(std::uint64_t seconds) {
  const auto twoDigits = [](std::uint64_t v) { return (v < 10 ? "0" : "") + Decimal(v); };
  if (seconds >= 3600) {
    return Decimal(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" +
           twoDigits(seconds % 60);
  }
  return Decimal(seconds / 60) + ":" + twoDigits(seconds % 60);
}

}  // namespace

std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs) {
  const auto percent =
      total == 0 ? 100 : static_cast<std::uint64_t>(static_cast<Wide>(done) * 100 / total);
  std::string line = Decimal(percent) + "% " + Bytes(done) + " of " + Bytes(total);
  if (elapsedMs == 0 || done == 0) return line;
  const auto perSecond = static_cast<std::uint64_t>(static_cast<Wide>(done) * 1000 / elapsedMs);
  line += ", " + Bytes(perSecond) + "/s";
  if (done < total) {
    const auto left =
        static_cast<std::uint64_t>(static_cast<Wide>(total - done) * elapsedMs / done / 1000);
    line += ", " + Duration(left) + " left";
  }
  return line;
}

void Progress::Begin(std::uint64_t total) {
  active_ = platform::IsTerminal(platform::StandardError());
  total_ = total;
  start_ = platform::MonotonicMilliseconds();
  nextDraw_ = start_ + kFirstDrawMs;
  shown_ = 0;
}

void Progress::Update(std::uint64_t done) {
  if (!active_) return;
  const std::uint64_t now = platform::MonotonicMilliseconds();
  if (now < nextDraw_) return;
  nextDraw_ = now + kRedrawMs;
  Show(FormatProgress(done, total_, now - start_));
}

void Progress::Erase() {
  if (shown_ == 0) return;
  const std::string blank = "\r" + std::string(shown_, ' ') + "\r";
  shown_ = 0;
  platform::WriteBestEffort(platform::StandardError(), blank.data(), blank.size());
}

void Progress::Show(const std::string& text) {
  // Blanks over what is left of a longer line before.
  std::string line = "\r" + text;
  if (text.size() < shown_) line.append(shown_ - text.size(), ' ');
  shown_ = text.size();
  platform::WriteBestEffort(platform::StandardError(), line.data(), line.size());
}

}  // namespace korvella
