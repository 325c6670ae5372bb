// What only Linux has: FIFOs, sockets, /dev/full, /proc and /sys, resource
// limits, symlinks, termination signals and faults injected with LD_PRELOAD.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "korvella_command.h"
#include "run_korvella.h"

namespace korvella::testing {
namespace {

using ::testing::StartsWith;

TEST(CommandLineAndInputs, AFifoDoesNotBlockTheOpen) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  dir.Put("b", "x");
  // No writer: the open must not wait for one; the size query then fails.
  const RunResult run = RunKorvella(dir, {.arguments = {"fifo", "b"}});
  EXPECT_EQ(run.status, 156);
  EXPECT_THAT(run.output, ::testing::StartsWith("Runtime error 156 at $"));
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

TEST(Log, ASymlinkToADirectoryInItsPlaceEndsInTheFailureReport) {
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

TEST(FailingOutput, AFullCharacterDeviceFailsAtTheFirstLineEnd) {
  // Before the log is touched.
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}, .output = Stream::DevFull});
  EXPECT_EQ(run.status, 101);
  EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
}

TEST(HostileInputs, SpecialFilesEndWithTheirMessageOrCode) {
  TempDir dir;
  dir.Put("b", "0123456789");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  // A listening socket in the directory.
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (dir / "socket").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(sock, 1), 0);

  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string outputStart;
  };
  const Case cases[] = {
      {"a FIFO without writer cannot be measured", {"fifo", "b"}, 156, "Runtime error 156 at $"},
      {"a socket cannot be opened", {"socket", "b"}, 1, "Error: can't open file socket\r\n"},
      {"/dev/null is empty", {"/dev/null", "b"}, 1, kEmpty},
      {"/dev/zero measures 0", {"b", "/dev/zero"}, 1, kEmpty},
      // procfs refuses a seek to the end: EINVAL, stored as 87.
      {"a /proc file cannot be measured", {"/proc/self/status", "b"}, 87, "Runtime error 87 at $"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunKorvella(dir, {.arguments = c.arguments});
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.output, StartsWith(c.outputStart));
    EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
  }
  close(sock);
}

TEST(HostileInputs, AControlCharacterInANameIsPrintedAndLogged) {
  TempDir dir;
  dir.Put("with\ttab", "xyz");
  dir.Put("other", "xyz");
  EXPECT_EQ(RunKorvella(dir, {.arguments = {"with\ttab", "other"}}).status, 0);
  EXPECT_EQ(dir.Get("korvella.log"), EqualFilesLogLine("with\ttab", "other", "3"));
  EXPECT_EQ(RunKorvella(dir, {.arguments = {"other", "xwith\ttab"}}).output,
            "Error: can't open file xwith\ttab\r\n" + std::string(kUsage));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(Resources, NoSecondThreadToBeHad) {
  // Large enough for the second counting thread.
  TempDir dir;
  std::string a(1 << 20, '\0'), b(1 << 20, '\0');
  for (std::size_t i = 0; i < a.size(); ++i) {
    a[i] = static_cast<char>(i * 7);
    b[i] = static_cast<char>(i % 5 == 0 ? i : i * 7);
  }
  dir.Put("a", a);
  dir.Put("b", b);
  const RunResult free = RunKorvella(dir, {.arguments = {"a", "b"}});
  ASSERT_EQ(free.status, 0);
  const std::string log = dir.Get("korvella.log");

  struct Case {
    const char* name;
    RunOptions options;
  };
  std::vector<Case> cases = {
      {"thread creation refused", {.arguments = {"a", "b"}, .fault = "no-thread"}},
  };
  // The sanitizers' shadow memory does not fit under such a limit.
  // Nor do an emulator's own reservations: the limit would measure the emulator.
  if (!kSanitized && KorvellaCommand().size() == 1) {
    cases.push_back(
        {"ulimit -v 50000", {.arguments = {"a", "b"}, .addressSpaceLimit = 50000 << 10}});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir / "korvella.log");
    const RunResult run = RunKorvella(dir, c.options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, free.output);
    EXPECT_EQ(dir.Get("korvella.log"), log);
  }
}

TEST(LogFaults, ATerminationSignalWhileTheLogIsWrittenWaitsForTheWholeLine) {
  // Long names: the line takes three writes, and SIGTERM, sent to the process,
  // comes after the first. Small inputs, and inputs large enough for the second
  // counting thread, which must not take the signal either.
  for (const std::size_t size : {std::size_t{3}, std::size_t{1} << 20}) {
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string name1(200, 'p'), name2(200, 'q');
    dir.Put(name1, std::string(size, 'x'));
    dir.Put(name2, std::string(size, 'x'));
    dir.Put("korvella.log", "earlier\r\n");
    const RunResult run = RunKorvella(dir, {.arguments = {name1, name2}, .fault = "term-mid-log"});
    EXPECT_EQ(run.status, 128 + SIGTERM) << "the signal still ends the run";
    EXPECT_EQ(dir.Get("korvella.log"),
              "earlier\r\n" + EqualFilesLogLine(name1, name2, std::to_string(size)));
  }
}

TEST(LogFaults, ALogKeptElsewhereThroughASymlink) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  std::filesystem::create_directory(dir / "logs");
  std::filesystem::create_symlink("logs/kept.log", dir / "korvella.log");
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(RunKorvella(dir, {.arguments = {"a", "b"}}).status, 0);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "korvella.log"));
  EXPECT_EQ(dir.Get("logs/kept.log"),
            EqualFilesLogLine("a", "b", "3") + EqualFilesLogLine("a", "b", "3"));
}

TEST(LogFaults, AFailedCloseOfTheLogIsAFailedWrite) {
  TempDir dir;
  dir.Put("a", "abc");
  dir.Put("b", "abc");
  const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}, .fault = "log-close-fails"});
  EXPECT_EQ(run.status, 101);
  EXPECT_THAT(run.output, StartsWith(ReportLines("3", kHundred, kHundred, kHundred) +
                                     "Runtime error 101 at $"));
  ExpectFailureReport(run.output, 101, 2);
}

}  // namespace
}  // namespace korvella::testing
