#include "report/report.h"

#include <string>

#include "engine/scores.h"
#include "input/inputs.h"
#include "process/failure.h"
#include "report/format.h"

namespace korvella {
namespace {

constexpr int kScoreDigits = 15;

// Writes each piece, followed by `check`.
template <typename Check, typename... Pieces>
void WritePieces(TextWriter& stream, Check check, const Pieces&... pieces) {
  ((Write(stream, std::string_view(pieces)), check()), ...);
}

// The log as it was before this run's line: a failed write-out leaves no torn
// line behind for the next run's line to be glued to.
struct LogStart {
  platform::FileHandle handle;
  std::uint64_t length;
};

__attribute__((noinline)) void CheckLog(const LogStart& start) {
  if (platform::IoErrorPending()) platform::TruncateTo(start.handle, start.length);
  CheckIo();
}

void WriteReportLine(std::string_view label, const std::string& value, std::string_view after) {
  WritePieces(ConsoleOut(), CheckIo, label, value, after);
  EndLine(ConsoleOut());
  CheckIo();
}

}  // namespace

__attribute__((noinline)) void WriteConsoleReport() {
  const ComparisonResult& result = Result();
  WriteReportLine("Size: ", FormatCount(result.ComparedLength), " bytes");
  WriteReportLine("Precise: ", FormatFixed(result.PreciseScore, kScoreDigits), " %");
  WriteReportLine("Statistical: ", FormatFixed(result.StatisticalScore, kScoreDigits), " %");
  const Extended average = AverageScore(result.StatisticalScore, result.PreciseScore);
  WriteReportLine("Average: ", FormatFixed(average, kScoreDigits), " %");
  CloseInputs();
}

__attribute__((noinline)) void AppendLogLine() {
  const ComparisonResult& result = Result();
  const InputPair& pair = Inputs();
  const std::string name(LogFileName);

  TextWriter log;
  const platform::FileHandle handle =
      platform::OpenLogForAppend(name.c_str(), kLogLockWaitMilliseconds);
  CheckIo();
  // Holding the lock, nobody else appends: the end now is where this line starts.
  const LogStart start{handle, platform::QueryFileSize(handle)};
  CheckIo();
  OpenStream(log, handle);
  log.characterDevice = false;  // the line end never writes the log out

  const Extended average = AverageScore(result.StatisticalScore, result.PreciseScore);
  WritePieces(
      log, [&start] { CheckLog(start); },
      "Precise: ", FormatFixed(result.PreciseScore, kScoreDigits),
      "% (T=", FormatFixed(result.Tolerance, 1),
      "), Stat: ", FormatFixed(result.StatisticalScore, kScoreDigits),
      "%, Avg: ", FormatFixed(average, kScoreDigits), "% for \"", pair.Name1.View(), "\" and \"",
      pair.Name2.View(), "\" (", FormatCount(result.ComparedLength), " x2 bytes read)");
  EndLine(log);
  CheckLog(start);
  WriteOut(log);
  CheckLog(start);
  // Releases the hold; a failed close is a failed write.
  platform::CloseLog(handle);
  CheckIo();
}

}  // namespace korvella
