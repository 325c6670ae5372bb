#include "process/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvella {
namespace {

using Tokens = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string line;
  Tokens tokens;
};

const SplitCase kSplit[] = {
    {"empty line", "", {}},
    {"only blanks and controls", " \t\x01\x1f ", {}},
    {"program only", "korvella.exe", {"korvella.exe"}},
    {"two names", "k a.bin b.bin", {"k", "a.bin", "b.bin"}},
    {"runs of blanks and tabs", "  k \t a\t\tb  ", {"k", "a", "b"}},
    {"quotes inside a token", "k a\"b c\"d", {"k", "ab cd"}},
    {"doubled quote yields nothing", "k a\"\"b", {"k", "ab"}},
    {"doubled quote inside quotes", "k \"a\"\"b\"", {"k", "ab"}},
    {"empty quoted argument", "k \"\" b", {"k", "", "b"}},
    {"two empty arguments", "k \"\" \"\"", {"k", "", ""}},
    {"unclosed quote keeps blanks", "k \"a b  c", {"k", "a b  c"}},
    {"tab inside quotes", "k \"a\tb\"", {"k", "a\tb"}},
    {"backslash is ordinary", "k a\\b c\\", {"k", "a\\b", "c\\"}},
    {"backslash does not escape a quote", "k \"a\\\" b", {"k", "a\\", "b"}},
    {"high bytes belong to the token", "k \xe9t\xe9 \xff", {"k", "\xe9t\xe9", "\xff"}},
    {"zero byte ends the line", std::string("k a\0b", 5), {"k", "a"}},
};

TEST(SplitCommandLine, Table) {
  for (const auto& c : kSplit) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitCommandLine(c.line), c.tokens);
  }
}

TEST(Arguments, CountAndCut) {
  const std::string longName(300, 'x');
  const char* argv[] = {"korvella", "a", longName.c_str(), nullptr};
  TakeArguments({3, argv, nullptr});
  EXPECT_EQ(ArgumentCount(), 2);
  EXPECT_EQ(Argument(1), "a");
  EXPECT_EQ(Argument(2), std::string(255, 'x'));
  EXPECT_EQ(Argument(0), "");
  EXPECT_EQ(Argument(3), "");

  TakeArguments({0, argv, nullptr});
  EXPECT_EQ(ArgumentCount(), -1);
  EXPECT_EQ(Argument(1), "");
}

TEST(Arguments, FromOneCommandLineString) {
  const std::string line = "korvella.exe \"a b\" " + std::string(300, 'y') + " \"\"";
  TakeArguments({0, nullptr, line.c_str()});
  EXPECT_EQ(ArgumentCount(), 3);
  EXPECT_EQ(Argument(1), "a b");
  EXPECT_EQ(Argument(2), std::string(255, 'y'));
  EXPECT_EQ(Argument(3), "");

  TakeArguments({0, nullptr, "  "});
  EXPECT_EQ(ArgumentCount(), -1);
}

}  // namespace
}  // namespace korvella
