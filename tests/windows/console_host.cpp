// console_host OUTPUT CODEPAGE SNAPSHOT_MS COMMAND...
// Started on a console of its own (a pseudo console of the test), runs COMMAND
// with standard output and standard error on that console, its output code page
// set to CODEPAGE (0: as it is), and writes to OUTPUT the command's exit status and
// the console's lines as the console shows them. With SNAPSHOT_MS above 0 it also
// writes the lines shown that long after the start to OUTPUT.during.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The rest of the command line after `count` tokens (none of which holds a
// blank inside quotes other than the first, the program's own path).
const char* SkipTokens(const char* line, int count) {
  for (int i = 0; i < count; ++i) {
    while (*line == ' ' || *line == '\t') ++line;
    if (*line == '"') {
      ++line;
      while (*line != '\0' && *line != '"') ++line;
      if (*line == '"') ++line;
    } else {
      while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
    }
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

// The lines down to the cursor's, each without its trailing blanks.
std::string ScreenLines(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return "(no screen buffer)\n";
  std::string lines;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::string line(static_cast<std::size_t>(info.dwSize.X), ' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterA(console, line.data(), static_cast<DWORD>(line.size()), {0, row},
                                &got);
    line.resize(got);
    line.erase(line.find_last_not_of(' ') + 1);
    lines += line + "\n";
  }
  return lines;
}

void WriteFileText(const std::string& path, const std::string& text) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 100;
  const std::string output = argv[1];
  const UINT codePage = static_cast<UINT>(std::atoi(argv[2]));
  const DWORD snapshotMs = static_cast<DWORD>(std::atoi(argv[3]));
  std::string command = SkipTokens(GetCommandLineA(), 4);

  if (codePage != 0 && !SetConsoleOutputCP(codePage)) return 101;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE console =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherited, OPEN_EXISTING, 0, nullptr);
  const HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherited, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE || nul == INVALID_HANDLE_VALUE) return 102;

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = console;
  startup.hStdError = console;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 103;
  }
  if (snapshotMs > 0) {
    WaitForSingleObject(process.hProcess, snapshotMs);
    WriteFileText(output + ".during", ScreenLines(console));
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  WriteFileText(output, std::to_string(status) + "\n" + ScreenLines(console));
  return 0;
}
