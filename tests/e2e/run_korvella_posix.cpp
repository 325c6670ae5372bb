// TempDir, HeldFile and StartedRun on Linux: korvella forked and executed, its
// descriptors bound as the options say.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "korvella_command.h"
#include "run_korvella.h"

namespace korvella::testing {

const int kReadRefusedCode = 6;  // EBADF

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "korvella-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Put(const std::string& name, const std::string& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Get(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Close-on-exec: a korvella started meanwhile must not share the lock.
HeldFile::HeldFile(const std::filesystem::path& path)
    : handle_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (handle_ < 0 || flock(static_cast<int>(handle_), LOCK_EX) != 0) {
    ADD_FAILURE() << "cannot hold " << path;
  }
}

HeldFile::~HeldFile() { Release(); }

void HeldFile::Release() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

namespace {

void Bind(int target, Stream stream, const std::string& file, int flags) {
  int fd = -1;
  switch (stream) {
    case Stream::Closed: close(target); return;
    case Stream::WriteOnlyFile: fd = open(file.c_str(), O_WRONLY); break;
    case Stream::DevNull: fd = open("/dev/null", flags); break;
    case Stream::DevFull: fd = open("/dev/full", flags); break;
    case Stream::File:
      fd = flags == O_RDONLY ? open(file.c_str(), O_RDONLY)
                             : open(file.c_str(), flags | O_CREAT | O_TRUNC, 0644);
      break;
    case Stream::PipeReaderGone: {
      int ends[2];
      if (pipe(ends) != 0) _exit(250);
      close(ends[0]);
      fd = ends[1];
      break;
    }
    case Stream::PipeFromText: {
      int ends[2];
      if (pipe(ends) != 0) _exit(250);
      if (write(ends[1], file.data(), file.size()) != static_cast<ssize_t>(file.size())) _exit(250);
      close(ends[1]);
      fd = ends[0];
      break;
    }
  }
  if (fd < 0) _exit(251);
  if (fd != target) {
    dup2(fd, target);
    close(fd);
  }
}

}  // namespace

StartedRun::StartedRun(const TempDir& dir, const RunOptions& options)
    : process_(-1), output_(options.output) {
  EXPECT_TRUE(options.commandTail.empty()) << "a command line as one string is Windows only";
  // Beside the directory, not in it; one set per run, as runs may overlap.
  static std::atomic<unsigned> runs{0};
  files_ =
      (dir.Path().parent_path() / (dir.Path().filename().string() + "." + std::to_string(runs++)))
          .string();
  const std::string outputPath = files_ + ".stdout";
  const std::string errorPath = files_ + ".stderr";
  const std::string inputPath = files_ + ".stdin";
  if (options.input == Stream::File || options.input == Stream::WriteOnlyFile) {
    std::ofstream(inputPath, std::ios::binary) << options.inputText;
  }
  std::vector<std::string> args = KorvellaCommand();
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.Path().c_str()) != 0) _exit(252);
    const bool fromFile = options.input == Stream::File || options.input == Stream::WriteOnlyFile;
    Bind(0, options.input, fromFile ? inputPath : options.inputText, O_RDONLY);
    Bind(1, options.output, outputPath, O_WRONLY);
    Bind(2, Stream::File, errorPath, O_WRONLY);
    // The file description is shared: korvella reads on from where this stops.
    for (std::size_t left = options.inputConsumed; left != 0;) {
      char skip[256];
      const ssize_t got = read(0, skip, std::min(left, sizeof skip));
      if (got <= 0) _exit(249);
      left -= static_cast<std::size_t>(got);
    }
    if (options.fileSizeLimit != 0) {
      const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.addressSpaceLimit != 0) {
      const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.fault != nullptr) {
      PreloadIntoKorvella(KORVELLA_FAULT_SHIM);
      setenv("KORVELLA_FAULT", options.fault, 1);
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }
    signal(SIGPIPE, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(253);
  }
  EXPECT_GT(child, 0) << "fork failed";
  process_ = child;
}

StartedRun::~StartedRun() {
  if (!waited_) Wait();
}

bool StartedRun::Running() const {
  // WNOWAIT: the status stays for Wait to collect.
  siginfo_t info{};
  return process_ > 0 &&
         waitid(P_PID, static_cast<id_t>(process_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

RunResult StartedRun::Wait() {
  waited_ = true;
  RunResult result;
  if (process_ > 0) {
    int status = 0;
    pid_t waited = -1;
    do {
      waited = waitpid(static_cast<pid_t>(process_), &status, 0);
    } while (waited == -1 && errno == EINTR);
    EXPECT_EQ(waited, process_) << "waitpid failed";
    if (waited == process_) {
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    process_ = -1;
  }
  const std::string outputPath = files_ + ".stdout";
  const std::string errorPath = files_ + ".stderr";
  const std::string inputPath = files_ + ".stdin";
  if (output_ == Stream::File) {
    std::ifstream in(outputPath, std::ios::binary);
    result.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Everything goes to standard output; standard error, no terminal here, stays
  // silent. (An emulator may speak there when the program dies of a signal.)
  std::ifstream errors(errorPath, std::ios::binary);
  const std::string errorText{std::istreambuf_iterator<char>(errors),
                              std::istreambuf_iterator<char>()};
  if (result.status >= 0 && result.status < 128) {
    EXPECT_EQ(errorText, "") << "on standard error";
  }
  std::remove(errorPath.c_str());
  std::remove(outputPath.c_str());
  std::remove(inputPath.c_str());
  return result;
}

}  // namespace korvella::testing
