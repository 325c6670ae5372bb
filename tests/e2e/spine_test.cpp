// The command line, the input files and the failure report, seen from outside.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "run_korvella.h"

namespace korvella::testing {
namespace {

const std::string kBanner = "korvella 1.0 - measures how alike two files are\r\n";
const std::string kSame = "Error: the same name in both.\r\n";
std::string CantOpen(const std::string& name) { return "Error: can't open file " + name + "\r\n"; }

struct EndCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string output;
};

TEST(CommandLineAndInputs, RunsThatEndWithStatus1) {
  const std::string longA = std::string(255, 'n') + "AAAAA";
  const std::string longB = std::string(255, 'n') + "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB";
  const EndCase cases[] = {
      {"no argument", {}, kBanner + kUsage},
      {"one argument", {"a"}, kUsage},
      {"three arguments", {"a", "b", "c"}, kUsage},
      {"equal names", {"seven", "seven"}, kSame + kUsage},
      {"equal names of missing files", {"nope", "nope"}, kSame + kUsage},
      {"300-byte names equal in their first 255", {longA, longB}, kSame + kUsage},
      {"two empty names", {"", ""}, kSame + kUsage},
      {"missing first file", {"nope", "seven"}, CantOpen("nope") + kUsage},
      {"both missing: only the first is named", {"nope", "nada"}, CantOpen("nope") + kUsage},
      {"missing second file", {"seven", "nope"}, CantOpen("nope") + kUsage},
      {"a directory", {"sub", "seven"}, CantOpen("sub") + kUsage},
      {"a directory second", {"seven", "sub"}, CantOpen("sub") + kUsage},
      {"missing path with backslashes, printed as typed",
       {"seven", "sub\\nope"},
       CantOpen("sub\\nope") + kUsage},
      {"empty first", {"empty", "seven"}, kEmpty + kUsage},
      {"empty second", {"seven", "empty"}, kEmpty + kUsage},
      {"both empty", {"empty", "empty2"}, kEmpty + kUsage},
      {"empty wins over the size warning", {"ten", "empty"}, kEmpty + kUsage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Put("seven", "1234567");
    dir.Put("ten", "0123456789");
    dir.Put("empty", "");
    dir.Put("empty2", "");
    std::filesystem::create_directory(dir / "sub");
    const RunResult run = RunKorvella(dir, {.arguments = c.arguments});
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "korvella.log"));
  }
}

TEST(CommandLineAndInputs, SeparatorsAndSpellingsOfOneFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  dir.Put("sub/x", "abc");
  const RunResult run = RunKorvella(dir, {.arguments = {"sub/x", "sub\\x"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.output, ::testing::StartsWith("Size: 3 bytes\r\n"));
}

TEST(CommandLineAndInputs, EmptyNameReadsStandardInput) {
  TempDir dir;
  dir.Put("b", "hello");
  const RunResult run =
      RunKorvella(dir, {.arguments = {"", "b"}, .input = Stream::File, .inputText = "hello"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            ReportLines("5", "100.000000000000000", "100.000000000000000", "100.000000000000000"));

  const RunResult empty =
      RunKorvella(dir, {.arguments = {"", "b"}, .input = Stream::File, .inputText = ""});
  EXPECT_EQ(empty.output, kEmpty + kUsage);
  EXPECT_EQ(empty.status, 1);
}

TEST(FailureReport, SizeQueryOnAPipe) {
  TempDir dir;
  dir.Put("b", "hello");
  const RunResult run = RunKorvella(
      dir, {.arguments = {"", "b"}, .input = Stream::PipeFromText, .inputText = "hello"});
  EXPECT_EQ(run.status, 156);
  // Location, repeated location, main, start-up code, empty line.
  ExpectFailureReport(run.output, 156, 2);
  EXPECT_THAT(run.output, ::testing::StartsWith("Runtime error 156 at $"));
}

TEST(FailureReport, SameLocationsInEveryRun) {
  TempDir dir;
  dir.Put("b", "hello");
  const RunOptions options{.arguments = {"", "b"}, .input = Stream::PipeFromText, .inputText = "x"};
  EXPECT_EQ(RunKorvella(dir, options).output, RunKorvella(dir, options).output);
}

}  // namespace
}  // namespace korvella::testing
