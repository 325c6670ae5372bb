// The progress line on a terminal: shown on standard error once a run has taken a
// while, erased before the report, and nothing else changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "korvella_command.h"
#include "run_korvella.h"

namespace korvella::testing {
namespace {

struct TerminalRun {
  int status = -1;
  std::string output;    // standard output, redirected to a file
  std::string terminal;  // what reached the terminal on standard error
};

// Runs korvella on `name1` and `name2` with standard error on a pseudo-terminal.
TerminalRun RunOnTerminal(const TempDir& dir, const char* fault, const std::string& name1 = "a",
                          const std::string& name2 = "b") {
  int master = -1, slave = -1;
  EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const std::string outputPath = (dir / "stdout").string();
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.Path().c_str()) != 0) _exit(252);
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(slave, 2);
    close(master);
    if (fault != nullptr) {
      PreloadIntoKorvella(KORVELLA_FAULT_SHIM);
      setenv("KORVELLA_FAULT", fault, 1);
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }
    std::vector<std::string> args = KorvellaCommand();
    args.insert(args.end(), {name1, name2});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(253);
  }
  close(slave);
  TerminalRun run;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got > 0) {
      run.terminal.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;  // EIO once the child and its copies of the terminal are gone
    }
  }
  close(master);
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.output = dir.Get("stdout");
  std::filesystem::remove(dir / "stdout");
  return run;
}

TEST(Progress, OnATerminalItIsShownThenErasedAndNothingElseChanges) {
  TempDir dir;
  std::mt19937 random(3);
  std::string a(32 << 20, '\0'), b(32 << 20, '\0');
  for (std::size_t i = 0; i < a.size(); i += 64) {
    a[i] = static_cast<char>(random());
    b[i] = static_cast<char>(random());
  }
  dir.Put("a", a);
  dir.Put("b", b);

  // Not a terminal: nothing on standard error, as for every other test.
  const RunResult plain = RunKorvella(dir, {.arguments = {"a", "b"}});
  ASSERT_EQ(plain.status, 0);
  const std::string log = dir.Get("korvella.log");

  // A terminal, but a run far shorter than a second, even under sanitizers or an
  // emulator: no line.
  dir.Put("small-a", a.substr(0, 1 << 20));
  dir.Put("small-b", b.substr(0, 1 << 20));
  const TerminalRun quick = RunOnTerminal(dir, nullptr, "small-a", "small-b");
  EXPECT_EQ(quick.status, 0);
  EXPECT_EQ(quick.terminal, "");
  std::filesystem::remove(dir / "korvella.log");

  // A terminal and a long run (the clock made to run fast): lines appear.
  std::filesystem::remove(dir / "korvella.log");
  const TerminalRun slow = RunOnTerminal(dir, "fast-clock");
  EXPECT_EQ(slow.status, 0);
  EXPECT_NE(slow.terminal.find("% "), std::string::npos) << slow.terminal;
  EXPECT_NE(slow.terminal.find(" MiB of 32.0 MiB, "), std::string::npos) << slow.terminal;
  EXPECT_NE(slow.terminal.find(" left"), std::string::npos) << slow.terminal;
  EXPECT_EQ(slow.terminal.find('\n'), std::string::npos) << "the line is rewritten in place\n"
                                                         << slow.terminal;
  // The last line is blanked out and the cursor back at the start.
  const std::size_t last = slow.terminal.rfind('\r', slow.terminal.size() - 2);
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(slow.terminal.substr(last + 1),
            std::string(slow.terminal.size() - last - 2, ' ') + "\r");
  EXPECT_EQ(slow.output, plain.output);
  EXPECT_EQ(dir.Get("korvella.log"), log);
}

}  // namespace
}  // namespace korvella::testing
