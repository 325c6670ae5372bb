// What every system's runs are checked against.
#include "run_korvella.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace korvella::testing {

void ExpectFailureReport(const std::string& output, int code, std::size_t minLevels) {
  const std::regex head(
      "Runtime error " + std::to_string(code) +
      " at \\$([0-9A-F]{8})\r\n  \\$([0-9A-F]{8})\r\n((?:  \\$[0-9A-F]{8}\r\n)*)\r\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(output, match, head)) << output;
  EXPECT_EQ(match[1], match[2]);
  EXPECT_EQ(match.suffix(), "") << "the report ends the output";
  EXPECT_GE(match[3].length() / 12, static_cast<long>(minLevels));
}

std::string ReportLines(const std::string& size, const std::string& precise,
                        const std::string& statistical, const std::string& average) {
  return "Size: " + size + " bytes\r\nPrecise: " + precise + " %\r\nStatistical: " + statistical +
         " %\r\nAverage: " + average + " %\r\n";
}

std::string LogLine(const std::string& precise, const std::string& statistical,
                    const std::string& average, const std::string& name1, const std::string& name2,
                    const std::string& size) {
  return "Precise: " + precise + "% (T=24.0), Stat: " + statistical + "%, Avg: " + average +
         "% for \"" + name1 + "\" and \"" + name2 + "\" (" + size + " x2 bytes read)\r\n";
}

std::string EqualFilesLogLine(const std::string& name1, const std::string& name2,
                              const std::string& size) {
  return LogLine(kHundred, kHundred, kHundred, name1, name2, size);
}

void ExpectReportThenFailure(const RunResult& run, int code) {
  EXPECT_EQ(run.status, code);
  EXPECT_THAT(run.output, ::testing::StartsWith(ReportLines("3", kHundred, kHundred, kHundred) +
                                                "Runtime error " + std::to_string(code) + " at $"));
  EXPECT_THAT(run.output, ::testing::EndsWith("\r\n\r\n"));
}

}  // namespace korvella::testing
