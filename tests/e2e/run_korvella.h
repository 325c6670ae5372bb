// Runs the built korvella in a directory of its own and captures what it leaves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvella::testing {

// What standard input and standard output are bound to.
// WriteOnlyFile: the input file opened for writing only, so reading it fails.
enum class Stream { File, WriteOnlyFile, Closed, DevNull, DevFull, PipeReaderGone, PipeFromText };

struct RunOptions {
  std::vector<std::string> arguments;  // argv after the program's own
  Stream input = Stream::DevNull;
  std::string inputText;  // Stream::File or PipeFromText: these bytes
  Stream output = Stream::File;
  std::uint64_t fileSizeLimit = 0;      // RLIMIT_FSIZE when nonzero
  std::uint64_t addressSpaceLimit = 0;  // RLIMIT_AS when nonzero
  const char* fault = nullptr;          // a fault of fault_shim.cpp to inject
};

struct RunResult {
  int status = -1;     // exit status, or 128 + signal
  std::string output;  // what reached standard output (Stream::File only)
};

// A fresh temporary directory, removed with its content at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  void Put(const std::string& name, const std::string& bytes) const;
  std::string Get(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Runs korvella with `dir` as working directory.
RunResult RunKorvella(const TempDir& dir, const RunOptions& options);

// The four report lines (CR LF ended) of a run.
std::string ReportLines(const std::string& size, const std::string& precise,
                        const std::string& statistical, const std::string& average);

// Expects `output` to end with a failure report for `code`: the location, the
// location again, at least `minLevels` call levels, an empty line.
void ExpectFailureReport(const std::string& output, int code, std::size_t minLevels);

inline constexpr const char* kUsage = "Usage: korvella.exe <file1> <file2>\r\n";

}  // namespace korvella::testing
