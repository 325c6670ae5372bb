#include "process/failure.h"

#include <algorithm>
#include <array>

#include "process/command_line.h"

namespace korvella {
namespace {

TextWriter consoleOut;
TextWriter reportOut;  // the failure report's own buffer on the same handle

// Level lines of the failure report: a console gets a short listing.
constexpr std::size_t kConsoleLevels = 9;
constexpr std::size_t kRedirectedLevels = 257;

std::array<char, 8> HexLocation(const void* address) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  // Offsets within one module stay below 4 GiB; the report keeps eight digits.
  auto offset = static_cast<std::uint32_t>(platform::ModuleOffset(address));
  std::array<char, 8> text{};
  for (std::size_t i = text.size(); i-- > 0;) {
    text[i] = kDigits[offset & 0xF];
    offset >>= 4;
  }
  return text;
}

void WriteLocationLine(const void* address) {
  const auto hex = HexLocation(address);
  Write(reportOut, "  $");
  Write(reportOut, {hex.data(), hex.size()});
  EndLine(reportOut);
}

void WriteDecimal(TextWriter& stream, unsigned value) {
  std::array<char, 10> digits{};
  std::size_t count = 0;
  do {
    digits[digits.size() - ++count] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Write(stream, {digits.data() + digits.size() - count, count});
}

void OnTrap(std::uint16_t code, const platform::FailureSite& site) { AbortRun(code, site); }

}  // namespace

TextWriter& ConsoleOut() { return consoleOut; }

void StartRun() {
  platform::StartProcess(OnTrap);
  OpenStream(consoleOut, platform::StandardOutput());
  OpenStream(reportOut, platform::StandardOutput());
}

__attribute__((noinline)) void CheckIo() {
  if (!platform::IoErrorPending()) return;
  const std::uint16_t code = platform::TakeIoError();
  static platform::FailureSite site;
  platform::CaptureCallerSite(site);
  AbortRun(code, site);
}

void AbortRun(std::uint16_t code, const platform::FailureSite& site) {
  // A failure of the report itself cannot be reported; the status still tells.
  const auto hex = HexLocation(site.location);
  Write(reportOut, "Runtime error ");
  WriteDecimal(reportOut, code);
  Write(reportOut, " at $");
  Write(reportOut, {hex.data(), hex.size()});
  EndLine(reportOut);
  WriteLocationLine(site.location);
  const std::size_t limit = reportOut.characterDevice ? kConsoleLevels : kRedirectedLevels;
  for (std::size_t i = 0; i < std::min(site.levelCount, limit); ++i) {
    WriteLocationLine(site.levels[i]);
  }
  EndLine(reportOut);
  EndRun(code);
}

void ShowUsage() {
  if (ArgumentCount() == 0) {
    Write(consoleOut, KORVELLA_BANNER);
    CheckIo();
    EndLine(consoleOut);
    CheckIo();
  }
  Write(consoleOut, "Usage: korvella.exe <file1> <file2>");
  CheckIo();
  EndLine(consoleOut);
  CheckIo();
  EndRun(1);
}

void EndRun(int status) {
  // A failure pending from the report itself must not silence the write-outs.
  (void)platform::TakeIoError();
  WriteOut(consoleOut);
  if (platform::TakeIoError() != 0 && status == 0) status = platform::kWriteFailed;
  WriteOut(reportOut);
  platform::EndProcess(status);
}

}  // namespace korvella
