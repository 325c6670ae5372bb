// Complete runs: the report, the log, and the runs cut short by a file that
// delivers less than it measured.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "run_korvella.h"

namespace korvella::testing {
namespace {

using ::testing::StartsWith;

TEST(Report, IdenticalFilesOf1024Bytes) {
  TempDir dir;
  dir.Put("a.bin", std::string(1024, 'q'));
  dir.Put("b.bin", std::string(1024, 'q'));
  const RunResult run = RunKorvella(dir, {.arguments = {"a.bin", "b.bin"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "Size: 1024 bytes\r\n"
            "Precise: 100.000000000000000 %\r\n"
            "Statistical: 100.000000000000000 %\r\n"
            "Average: 100.000000000000000 %\r\n");
  EXPECT_EQ(dir.Get("korvella.log"),
            "Precise: 100.000000000000000% (T=24.0), Stat: 100.000000000000000%, Avg: "
            "100.000000000000000% for \"a.bin\" and \"b.bin\" (1024 x2 bytes read)\r\n");
}

TEST(Report, AverageComesFromTheScoresNotFromTheirTexts) {
  TempDir dir;
  dir.Put("a", std::string("\x00\x08", 2));
  dir.Put("b", std::string("\x08\x00", 2));
  const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, ReportLines("2", "66.666666666666667", kHundred, "83.333333333333333"));
  EXPECT_EQ(dir.Get("korvella.log"),
            LogLine("66.666666666666667", kHundred, "83.333333333333333", "a", "b", "2"));
}

TEST(Report, SizesTenAndSeven) {
  TempDir dir;
  dir.Put("ten", "0123456789");
  dir.Put("seven", "0123456");
  const RunResult run = RunKorvella(dir, {.arguments = {"ten", "seven"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "Warning: file sizes mismatch, take care!\r\n" +
                            ReportLines("7", kHundred, kHundred, kHundred));
  EXPECT_EQ(dir.Get("korvella.log"), LogLine(kHundred, kHundred, kHundred, "ten", "seven", "7"));
}

TEST(Report, OneByteZeroAgainstFF) {
  TempDir dir;
  dir.Put("a", std::string(1, '\0'));
  dir.Put("b", "\xff");
  const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}});
  EXPECT_EQ(run.output,
            ReportLines("1", "95.833333333333333", "0.000000000000000", "47.916666666666667"));
}

TEST(ShortRead, StandardInputAlreadyPartlyConsumed) {
  // The size is the end position, but the reads start where standard input stands.
  TempDir dir;
  dir.Put("b", "0123456789");
  const RunResult run = RunKorvella(dir, {.arguments = {"b", ""},
                                          .input = Stream::File,
                                          .inputText = "0123456789",
                                          .inputConsumed = 3});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Error reading file \r\n");
}

TEST(Log, AppendsAfterTheExistingBytesWhateverTheyAre) {
  const std::string line = LogLine(kHundred, kHundred, kHundred, "a", "b", "3");
  const std::string earlier[] = {"", "old line\r\n", "no line end", "ends in EOF\x1a",
                                 std::string(1000, 'z')};
  for (const auto& before : earlier) {
    SCOPED_TRACE(before.substr(0, 20));
    TempDir dir;
    dir.Put("a", "abc");
    dir.Put("b", "abc");
    if (!before.empty()) dir.Put("korvella.log", before);
    EXPECT_EQ(RunKorvella(dir, {.arguments = {"a", "b"}}).status, 0);
    EXPECT_EQ(dir.Get("korvella.log"), before + line);
    EXPECT_EQ(RunKorvella(dir, {.arguments = {"b", "a"}}).status, 0);
    EXPECT_EQ(dir.Get("korvella.log"),
              before + line + LogLine(kHundred, kHundred, kHundred, "b", "a", "3"));
  }
}

TEST(Log, LongNamesAndSeparatorsAsTyped) {
  TempDir dir;
  const std::string name1(255, 'a');
  const std::string name2(255, 'b');
  dir.Put(name1, "xyz");
  dir.Put(name2, "xyz");
  std::filesystem::create_directory(dir / "sub");
  dir.Put("sub/c", "xyz");
  ASSERT_EQ(RunKorvella(dir, {.arguments = {name1, name2}}).status, 0);
  ASSERT_EQ(RunKorvella(dir, {.arguments = {"sub/c", "sub\\c"}}).status, 0);
  const std::string first = LogLine(kHundred, kHundred, kHundred, name1, name2, "3");
  EXPECT_GT(first.size(), 256u);
  EXPECT_EQ(dir.Get("korvella.log"),
            first + LogLine(kHundred, kHundred, kHundred, "sub/c", "sub\\c", "3"));
}

TEST(Log, ADirectoryInItsPlaceEndsInTheFailureReport) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  std::filesystem::create_directory(dir / "korvella.log");
  ExpectReportThenFailure(RunKorvella(dir, {.arguments = {"a", "b"}}), 5);
}

TEST(Log, ARunWaitsForTheLockThenGivesUpAsASharingViolation) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  dir.Put("korvella.log", "held\r\n");
  auto held = std::make_unique<HeldFile>(dir / "korvella.log");

  // Released after a second: the run waits, then appends.
  StartedRun waiting(dir, {.arguments = {"a", "b"}});
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_TRUE(waiting.Running());
  held->Release();
  EXPECT_EQ(waiting.Wait().status, 0);
  EXPECT_EQ(dir.Get("korvella.log"),
            "held\r\n" + LogLine(kHundred, kHundred, kHundred, "a", "b", "3"));

  // Held for good: after ten seconds the run gives up, the log untouched.
  const std::string before = dir.Get("korvella.log");
  held = std::make_unique<HeldFile>(dir / "korvella.log");
  ExpectReportThenFailure(RunKorvella(dir, {.arguments = {"a", "b"}}), 5);
  held.reset();
  EXPECT_EQ(dir.Get("korvella.log"), before);
}

TEST(Log, ParallelRunsEachAppendTheirWholeLine) {
  TempDir dir;
  const std::string name1(200, 'p');
  const std::string name2(200, 'q');
  dir.Put(name1, std::string(100000, 'm'));
  dir.Put(name2, std::string(100000, 'm'));
  constexpr int kRuns = 32;
  std::vector<std::unique_ptr<StartedRun>> runs;
  for (int i = 0; i < kRuns; ++i) {
    runs.push_back(std::make_unique<StartedRun>(
        dir, RunOptions{.arguments = {i % 2 ? name1 : name2, i % 2 ? name2 : name1}}));
  }
  for (auto& run : runs) EXPECT_EQ(run->Wait().status, 0);
  const std::string forward = LogLine(kHundred, kHundred, kHundred, name1, name2, "100000");
  const std::string backward = LogLine(kHundred, kHundred, kHundred, name2, name1, "100000");
  const std::string log = dir.Get("korvella.log");
  std::size_t at = 0;
  int lines = 0;
  while (at < log.size()) {
    const bool isForward = log.compare(at, forward.size(), forward) == 0;
    const bool isBackward = log.compare(at, backward.size(), backward) == 0;
    ASSERT_TRUE(isForward || isBackward) << "torn line at byte " << at;
    at += forward.size();
    ++lines;
  }
  EXPECT_EQ(lines, kRuns);
}

}  // namespace
}  // namespace korvella::testing
