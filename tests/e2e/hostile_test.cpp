// Hostile inputs and failing systems, provoked for real: every run must end with
// a true status, and the log must hold whole lines only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "engine/scores.h"
#include "report/format.h"
#include "run_korvella.h"

namespace korvella::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kHundred = "100.000000000000000";
const std::string kEmpty = "Error: can'not compare empty files\r\n";

std::string WholeLogLine(const std::string& name1, const std::string& name2,
                         const std::string& size) {
  return "Precise: " + kHundred + "% (T=24.0), Stat: " + kHundred + "%, Avg: " + kHundred +
         "% for \"" + name1 + "\" and \"" + name2 + "\" (" + size + " x2 bytes read)\r\n";
}

TEST(FailingOutput, StandardOutputEnds) {
  struct Case {
    const char* name;
    Stream output;
    int status;
    bool logged;
  };
  const Case cases[] = {
      // A character device: the first line end fails, before the log is touched.
      {"/dev/full", Stream::DevFull, 101, false},
      // Opened anew on /dev/null: the run completes.
      {"closed", Stream::Closed, 0, true},
      // Everything waits for the exit; its write-out fails, and says so.
      {"pipe without reader", Stream::PipeReaderGone, 101, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Put("a", "abc");
    dir.Put("b", "abc");
    const RunResult run = RunKorvella(dir, {.arguments = {"a", "b"}, .output = c.output});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(dir.Get("korvella.log"), c.logged ? WholeLogLine("a", "b", "3") : "");
  }
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

TEST(HostileInputs, AReadTheSystemRefusesEndsInTheFailureReport) {
  // Standard input open for writing only: it can be measured, but not read (EBADF).
  TempDir dir;
  dir.Put("b", "hello");
  const RunResult run = RunKorvella(
      dir, {.arguments = {"", "b"}, .input = Stream::WriteOnlyFile, .inputText = "hello"});
  EXPECT_EQ(run.status, 6);
  EXPECT_THAT(run.output, StartsWith("Runtime error 6 at $"));
  ExpectFailureReport(run.output, 6, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
}

TEST(HostileInputs, OddNamesArePrintedAndLoggedByteForByte) {
  const std::string longName(300, 'L');
  const std::string names[] = {"with space", "with\ttab", "caf\xe9 \x80\xff", "-leading-dash",
                               std::string(255, 'n')};
  for (const auto& name : names) {
    SCOPED_TRACE(name.substr(0, 20));
    TempDir dir;
    dir.Put(name, "xyz");
    dir.Put("other", "xyz");
    const RunResult run = RunKorvella(dir, {.arguments = {name, "other"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.Get("korvella.log"), WholeLogLine(name, "other", "3"));
    const RunResult missing = RunKorvella(dir, {.arguments = {"other", "x" + name}});
    const std::string shown = ("x" + name).substr(0, 255);
    EXPECT_EQ(missing.output, "Error: can't open file " + shown + "\r\n" + kUsage);
  }
  // 300 bytes: only the first 255 are opened, printed and logged.
  TempDir dir;
  dir.Put(longName.substr(0, 255), "xyz");
  dir.Put("other", "xyz");
  EXPECT_EQ(RunKorvella(dir, {.arguments = {longName, "other"}}).status, 0);
  EXPECT_EQ(dir.Get("korvella.log"), WholeLogLine(longName.substr(0, 255), "other", "3"));
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

namespace korvella::testing {
namespace {

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
  if (!kSanitized) {
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
  // Long names: the line takes three writes, and SIGTERM comes after the first.
  TempDir dir;
  const std::string name1(200, 'p'), name2(200, 'q');
  dir.Put(name1, "abc");
  dir.Put(name2, "abc");
  dir.Put("korvella.log", "earlier\r\n");
  const RunResult run = RunKorvella(dir, {.arguments = {name1, name2}, .fault = "term-mid-log"});
  EXPECT_EQ(run.status, 128 + SIGTERM) << "the signal still ends the run";
  EXPECT_EQ(dir.Get("korvella.log"), "earlier\r\n" + WholeLogLine(name1, name2, "3"));
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
  EXPECT_EQ(dir.Get("logs/kept.log"), WholeLogLine("a", "b", "3") + WholeLogLine("a", "b", "3"));
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
