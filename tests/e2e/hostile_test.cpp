// Hostile inputs and failing systems, provoked for real: every run must end with
// a true status, and the log must hold whole lines only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/scores.h"
#include "report/format.h"
#include "run_korvella.h"

namespace korvella::testing {
namespace {

TEST(FailingOutput, StandardOutputEnds) {
  struct Case {
    const char* name;
    Stream output;
    int status;
  };
  const Case cases[] = {
      // The null device takes its place: the run completes.
      {"closed", Stream::Closed, 0},
      // Everything waits for the exit; its write-out fails, and says so.
      {"pipe without reader", Stream::PipeReaderGone, 101},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Put("a", "abc");
    dir.Put("b", "abc");
    const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}, .output = c.output});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(dir.Get("korvella.log"), EqualFilesLogLine("a", "b", "3"));
  }
}

TEST(HostileInputs, AReadTheSystemRefusesEndsInTheFailureReport) {
  // Standard input open for writing only: it can be measured, but not read.
  TempDir dir;
  dir.Put("b", "hello");
  const RunResult run = RunKorvella(
      dir, {.arguments = {"", "b"}, .input = Stream::WriteOnlyFile, .inputText = "hello"});
  EXPECT_EQ(run.status, kReadRefusedCode);
  EXPECT_THAT(run.output,
              ::testing::StartsWith("Runtime error " + std::to_string(kReadRefusedCode) + " at $"));
  ExpectFailureReport(run.output, kReadRefusedCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
}

TEST(HostileInputs, OddNamesArePrintedAndLoggedByteForByte) {
  const std::string longName(300, 'L');
  const std::string names[] = {"with space", "caf\xe9 \x80\xff", "-leading-dash",
                               std::string(255, 'n')};
  for (const auto& name : names) {
    SCOPED_TRACE(name.substr(0, 20));
    TempDir dir;
    dir.Put(name, "xyz");
    dir.Put("other", "xyz");
    const RunResult run = RunKorvella(dir, {.arguments = {name, "other"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.Get("korvella.log"), EqualFilesLogLine(name, "other", "3"));
    const RunResult missing = RunKorvella(dir, {.arguments = {"other", "x" + name}});
    const std::string shown = ("x" + name).substr(0, 255);
    EXPECT_EQ(missing.output, "Error: can't open file " + shown + "\r\n" + kUsage);
  }
  // 300 bytes: only the first 255 are opened, printed and logged.
  TempDir dir;
  dir.Put(longName.substr(0, 255), "xyz");
  dir.Put("other", "xyz");
  EXPECT_EQ(RunKorvella(dir, {.arguments = {longName, "other"}}).status, 0);
  EXPECT_EQ(dir.Get("korvella.log"), EqualFilesLogLine(longName.substr(0, 255), "other", "3"));
}

TEST(HostileInputs, SparseFilesOfFiveGibibytes) {
  TempDir dir;
  const std::uint64_t size = 5ull << 30;
  const std::uint64_t where = size - 12345;
  for (const char* name : {"a", "b"}) {
    std::ofstream(dir / name, std::ios::binary).put('\0');
    std::filesystem::resize_file(dir / name, size);
  }
  {
    std::fstream b(dir / "b", std::ios::binary | std::ios::in | std::ios::out);
    b.seekp(static_cast<std::streamoff>(where));
    b.put('\x01');
  }
  const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}});
  EXPECT_EQ(run.status, 0);
  // One pair differs by 1: the totals are known without reading 10 GiB here.
  ByteHistogram h1{}, h2{};
  h1[0] = size;
  h2[0] = size - 1;
  h2[1] = 1;
  const Extended statistical = StatisticalScoreOf(h1, h2, size);
  const Extended precise = PreciseScoreOf(Extended(1) / 24, size);
  EXPECT_EQ(run.output,
            ReportLines("5368709120", FormatFixed(precise, 15), FormatFixed(statistical, 15),
                        FormatFixed(AverageScore(statistical, precise), 15)));
}

}  // namespace
}  // namespace korvella::testing
