// Complete runs: the report, the log, and the runs cut short by a file that
// delivers less than it measured.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "run_korvella.h"

namespace korvella::testing {
namespace {

using ::testing::StartsWith;

const std::string kHundred = "100.000000000000000";

std::string LogLine(const std::string& precise, const std::string& statistical,
                    const std::string& average, const std::string& name1, const std::string& name2,
                    const std::string& size) {
  return "Precise: " + precise + "% (T=24.0), Stat: " + statistical + "%, Avg: " + average +
         "% for \"" + name1 + "\" and \"" + name2 + "\" (" + size + " x2 bytes read)\r\n";
}

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

TEST(ShortRead, AFileThatDeliversLessThanItsSize) {
  // A sysfs attribute claims 4096 bytes and delivers a few dozen.
  const std::string sysfs = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(sysfs.c_str(), R_OK) != 0) GTEST_SKIP() << "no " << sysfs;
  TempDir dir;
  dir.Put("big", std::string(4096, 'x'));
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {"first file short", {sysfs, "big"}, "Error reading file " + sysfs + "\r\n"},
      {"second file short", {"big", sysfs}, "Error reading file " + sysfs + "\r\n"},
      {"both short: the first is named",
       {sysfs, "/sys/kernel/mm/transparent_hugepage/defrag"},
       "Error reading file " + sysfs + "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunKorvella(dir, {.arguments = c.arguments});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, c.message);
    EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
  }
}

TEST(ShortRead, StandardInputAlreadyPartlyConsumed) {
  // The size is the end position, but the reads start where standard input stands.
  TempDir dir;
  dir.Put("b", "0123456789");
  dir.Put("in", "0123456789");
  const pid_t child = fork();
  if (child == 0) {
    // Consume 3 bytes of the shared file description, then hand it to korvella.
    const int fd = open((dir / "in").c_str(), O_RDONLY);
    char skip[3];
    if (read(fd, skip, 3) != 3) _exit(99);
    dup2(fd, 0);
    const int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    if (chdir(dir.Path().c_str()) != 0) _exit(98);
    execl(KORVELLA_BINARY, KORVELLA_BINARY, "b", "", static_cast<char*>(nullptr));
    _exit(97);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(dir.Get("out"), "Error reading file \r\n");
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

// A failure report must end the output after the complete report.
void ExpectReportThenFailure(const RunResult& run, int code) {
  EXPECT_EQ(run.status, code);
  EXPECT_THAT(run.output, StartsWith(ReportLines("3", kHundred, kHundred, kHundred) +
                                     "Runtime error " + std::to_string(code) + " at $"));
  EXPECT_THAT(run.output, ::testing::EndsWith("\r\n\r\n"));
}

TEST(Log, ALogThatCannotBeWrittenEndsInTheFailureReport) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  std::filesystem::create_directory(dir / "korvella.log");
  ExpectReportThenFailure(RunKorvella(dir, {.arguments = {"a", "b"}}), 5);

  TempDir linked;
  linked.Put("a", "abc");
  linked.Put("b", "abc");
  std::filesystem::create_directory_symlink("/tmp", linked / "korvella.log");
  ExpectReportThenFailure(RunKorvella(linked, {.arguments = {"a", "b"}}), 5);
}

TEST(Log, DiskFullLeavesTheEarlierBytesAndNoTornLine) {
  const std::string before(1000, 'z');
  const std::string line = LogLine(kHundred, kHundred, kHundred, "a", "b", "3");
  for (const std::uint64_t room : {std::size_t{0}, std::size_t{100}, line.size() - 1}) {
    SCOPED_TRACE(room);
    TempDir dir;
    dir.Put("a", "abc");
    dir.Put("b", "abc");
    dir.Put("korvella.log", before);
    const RunResult run =
        RunKorvella(dir, {.arguments = {"a", "b"}, .fileSizeLimit = before.size() + room});
    ExpectReportThenFailure(run, 101);
    EXPECT_EQ(dir.Get("korvella.log"), before);
  }
}

TEST(Log, ARunWaitsForTheLockThenGivesUpAsASharingViolation) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  dir.Put("korvella.log", "held\r\n");
  const int held = open((dir / "korvella.log").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  // Released after a second: the run waits, then appends.
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    flock(held, LOCK_UN);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunKorvella(dir, {.arguments = {"a", "b"}}).status, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  release.join();
  EXPECT_EQ(dir.Get("korvella.log"),
            "held\r\n" + LogLine(kHundred, kHundred, kHundred, "a", "b", "3"));

  // Held for good: after ten seconds the run gives up, the log untouched.
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const std::string before = dir.Get("korvella.log");
  ExpectReportThenFailure(RunKorvella(dir, {.arguments = {"a", "b"}}), 5);
  EXPECT_EQ(dir.Get("korvella.log"), before);
  close(held);
}

TEST(Log, ParallelRunsEachAppendTheirWholeLine) {
  TempDir dir;
  const std::string name1(200, 'p');
  const std::string name2(200, 'q');
  dir.Put(name1, std::string(100000, 'm'));
  dir.Put(name2, std::string(100000, 'm'));
  constexpr int kRuns = 32;
  std::vector<std::thread> runs;
  std::vector<int> statuses(kRuns, -1);
  for (int i = 0; i < kRuns; ++i) {
    runs.emplace_back([&, i] {
      statuses[static_cast<std::size_t>(i)] =
          RunKorvella(dir, {.arguments = {i % 2 ? name1 : name2, i % 2 ? name2 : name1}}).status;
    });
  }
  for (auto& run : runs) run.join();
  for (const int status : statuses) EXPECT_EQ(status, 0);
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
