// Runs the built korvella in a directory of its own and captures what it leaves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvella::testing {

// What standard input and standard output are bound to.
// WriteOnlyFile: the input file opened for writing only, so reading it fails.
// DevNull is the null device (NUL on Windows); DevFull exists on Linux only.
enum class Stream { File, WriteOnlyFile, Closed, DevNull, DevFull, PipeReaderGone, PipeFromText };

struct RunOptions {
  std::vector<std::string> arguments;  // the arguments after the program's own name
  Stream input = Stream::DevNull;
  std::string inputText;          // Stream::File or PipeFromText: these bytes
  std::size_t inputConsumed = 0;  // Stream::File: bytes already read from it by the caller
  Stream output = Stream::File;
  // Linux only:
  std::uint64_t fileSizeLimit = 0;      // RLIMIT_FSIZE when nonzero
  std::uint64_t addressSpaceLimit = 0;  // RLIMIT_AS when nonzero
  const char* fault = nullptr;          // a fault of fault_shim.cpp to inject
  // Windows only: the command line after the program's name, as it is, instead of
  // `arguments` (each of which is passed in double quotes).
  std::string commandTail;
};

struct RunResult {
  int status = -1;     // exit status (all of it on Windows), or 128 + signal on Linux
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

// Holds a file as a run appending to the log does (an exclusive lock on Linux, an
// open that shares nothing on Windows) until released or destroyed.
class HeldFile {
 public:
  explicit HeldFile(const std::filesystem::path& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  void Release();

 private:
  std::intptr_t handle_;
};

// Windows only: the command line that starts korvella with these options.
std::string KorvellaCommandLine(const RunOptions& options);

// Korvella started with `dir` as working directory, not yet waited for. Runs meant
// to overlap are started one after another from one thread, then waited for: a
// process forked from several threads at once can hang under an emulator.
class StartedRun {
 public:
  StartedRun(const TempDir& dir, const RunOptions& options);
  ~StartedRun();  // waits, if Wait was not called
  StartedRun(const StartedRun&) = delete;
  StartedRun& operator=(const StartedRun&) = delete;
  // Whether the process has not ended yet.
  bool Running() const;
  RunResult Wait();

 private:
  std::intptr_t process_;  // none when it could not be started or was waited for
  Stream output_;
  std::string files_;  // where the run's standard streams are kept, less the suffix
  bool waited_ = false;
};

// Runs korvella with `dir` as working directory.
inline RunResult RunKorvella(const TempDir& dir, const RunOptions& options) {
  return StartedRun(dir, options).Wait();
}

// The four report lines (CR LF ended) of a run.
std::string ReportLines(const std::string& size, const std::string& precise,
                        const std::string& statistical, const std::string& average);

// The log line of a complete run (CR LF ended).
std::string LogLine(const std::string& precise, const std::string& statistical,
                    const std::string& average, const std::string& name1, const std::string& name2,
                    const std::string& size);
// The log line of two files with equal bytes: every score 100.
std::string EqualFilesLogLine(const std::string& name1, const std::string& name2,
                              const std::string& size);

// Expects `output` to end with a failure report for `code`: the location, the
// location again, at least `minLevels` call levels, an empty line.
void ExpectFailureReport(const std::string& output, int code, std::size_t minLevels);

// Expects a run on two equal 3-byte files to end with the failure report for
// `code` after its complete report.
void ExpectReportThenFailure(const RunResult& run, int code);

inline const std::string kHundred = "100.000000000000000";

// The code a read ends with on a handle open for writing only: EBADF (6) on
// Linux, access denied (5) on Windows.
extern const int kReadRefusedCode;

inline constexpr const char* kUsage = "Usage: korvella.exe <file1> <file2>\r\n";
inline const std::string kEmpty = "Error: can'not compare empty files\r\n";

}  // namespace korvella::testing
