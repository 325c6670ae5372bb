// TempDir, HeldFile and StartedRun on Windows: korvella.exe started with
// CreateProcessA, its standard handles bound as the options say. Names are bytes
// in the ANSI code page, as korvella itself sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>

#include "run_korvella.h"

namespace korvella::testing {

const int kReadRefusedCode = 5;  // ERROR_ACCESS_DENIED
namespace {

std::wstring Wide(const std::string& ansi) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
  return wide;
}

// A 255-byte name in a temporary directory passes MAX_PATH: the \\?\ form has no
// such limit, and takes only absolute paths with backslashes.
std::wstring LongPath(const std::filesystem::path& directory, const std::string& name = {}) {
  std::wstring path = L"\\\\?\\" + directory.wstring();
  if (!name.empty()) path += L"\\" + Wide(name);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

void RemoveTree(const std::wstring& directory) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = directory + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only ones too
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(directory.c_str());
}

std::string ReadAll(HANDLE file) {
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0)
    bytes.append(buffer, got);
  return bytes;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return bytes.empty() ||
         (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
          written == bytes.size());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// The handle a standard stream of the child is bound to (not inheritable yet);
// nullptr for a closed stream.
HANDLE Bind(Stream stream, bool input, const std::string& file, const RunOptions& options) {
  switch (stream) {
    case Stream::Closed: return nullptr;
    case Stream::DevNull:
      return OpenFile("NUL", input ? GENERIC_READ : GENERIC_WRITE, OPEN_EXISTING);
    case Stream::WriteOnlyFile: return OpenFile(file, GENERIC_WRITE, OPEN_EXISTING);
    case Stream::File: {
      if (!input) return OpenFile(file, GENERIC_WRITE, CREATE_ALWAYS);
      const HANDLE handle = OpenFile(file, GENERIC_READ, OPEN_EXISTING);
      // The position is the handle's: korvella reads on from where this stops.
      std::string skip(options.inputConsumed, '\0');
      DWORD got = 0;
      if (!skip.empty() &&
          !(ReadFile(handle, skip.data(), static_cast<DWORD>(skip.size()), &got, nullptr) &&
            got == skip.size())) {
        ADD_FAILURE() << "cannot consume the input";
      }
      return handle;
    }
    case Stream::PipeReaderGone:
    case Stream::PipeFromText: {
      HANDLE read = nullptr;
      HANDLE write = nullptr;
      if (!CreatePipe(&read, &write, nullptr, 0)) return INVALID_HANDLE_VALUE;
      if (stream == Stream::PipeReaderGone) {
        CloseHandle(read);
        return write;
      }
      EXPECT_TRUE(WriteAll(write, options.inputText)) << "the text must fit in the pipe";
      CloseHandle(write);
      return read;
    }
    case Stream::DevFull: ADD_FAILURE() << "Windows has no full device"; return nullptr;
  }
  return nullptr;
}

// Handles made inheritable for one child must reach no other, should two threads
// start children at once.
std::mutex spawning;

}  // namespace

TempDir::TempDir() {
  char base[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary directory");
  static std::atomic<unsigned> counter{0};
  for (;;) {
    const std::string path = std::string(base) + "korvella-e2e-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter++);
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      path_ = path;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("CreateDirectory failed");
  }
}

TempDir::~TempDir() { RemoveTree(LongPath(path_)); }

void TempDir::Put(const std::string& name, const std::string& bytes) const {
  const HANDLE file = CreateFileW(LongPath(path_, name).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << name;
  EXPECT_TRUE(WriteAll(file, bytes)) << "cannot write " << name;
  CloseHandle(file);
}

std::string TempDir::Get(const std::string& name) const {
  const HANDLE file = CreateFileW(LongPath(path_, name).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes = ReadAll(file);
  CloseHandle(file);
  return bytes;
}

HeldFile::HeldFile(const std::filesystem::path& path)
    : handle_(reinterpret_cast<std::intptr_t>(CreateFileA(path.string().c_str(), GENERIC_READ, 0,
                                                          nullptr, OPEN_EXISTING,
                                                          FILE_ATTRIBUTE_NORMAL, nullptr))) {
  if (reinterpret_cast<HANDLE>(handle_) == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot hold " << path;
  }
}

HeldFile::~HeldFile() { Release(); }

void HeldFile::Release() {
  if (reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
  }
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

std::string KorvellaCommandLine(const RunOptions& options) {
  std::string binary = KORVELLA_BINARY;
  std::replace(binary.begin(), binary.end(), '/', '\\');
  std::string commandLine = "\"" + binary + "\"";
  if (!options.commandTail.empty()) return commandLine + " " + options.commandTail;
  for (const auto& argument : options.arguments) {
    // Quotes only switch quoting on and off: no argument can hold one.
    EXPECT_EQ(argument.find('"'), std::string::npos) << argument;
    commandLine += " \"" + argument + "\"";
  }
  return commandLine;
}

StartedRun::StartedRun(const TempDir& dir, const RunOptions& options)
    : process_(0), output_(options.output) {
  EXPECT_TRUE(options.fileSizeLimit == 0 && options.addressSpaceLimit == 0 &&
              options.fault == nullptr)
      << "resource limits and injected faults are Linux only";
  // Beside the directory, not in it; one set per run, as runs may overlap.
  static std::atomic<unsigned> runs{0};
  files_ = dir.Path().string() + "." + std::to_string(runs++);
  const std::string outputPath = files_ + ".stdout";
  const std::string inputPath = files_ + ".stdin";
  if (options.input == Stream::File || options.input == Stream::WriteOnlyFile) {
    const HANDLE file = OpenFile(inputPath, GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_TRUE(WriteAll(file, options.inputText));
    CloseHandle(file);
  }

  std::string commandLine = KorvellaCommandLine(options);
  const HANDLE handles[] = {
      Bind(options.input, true, inputPath, options),
      Bind(options.output, false, outputPath, options),
      OpenFile("NUL", GENERIC_WRITE, OPEN_EXISTING),
  };
  PROCESS_INFORMATION process{};
  BOOL created = FALSE;
  {
    const std::lock_guard<std::mutex> lock(spawning);
    for (const HANDLE handle : handles) {
      if (handle != nullptr) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0];
    startup.hStdOutput = handles[1];
    startup.hStdError = handles[2];
    // No console: korvella's standard handles are only the ones given here.
    created = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                             nullptr, dir.Path().string().c_str(), &startup, &process);
    for (const HANDLE handle : handles) {
      if (handle != nullptr) CloseHandle(handle);
    }
  }
  EXPECT_TRUE(created) << "CreateProcess failed: " << GetLastError();
  if (created) {
    CloseHandle(process.hThread);
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
  }
}

StartedRun::~StartedRun() {
  if (!waited_) Wait();
}

bool StartedRun::Running() const {
  return process_ != 0 &&
         WaitForSingleObject(reinterpret_cast<HANDLE>(process_), 0) == WAIT_TIMEOUT;
}

RunResult StartedRun::Wait() {
  waited_ = true;
  RunResult result;
  const std::string outputPath = files_ + ".stdout";
  if (process_ != 0) {
    const HANDLE process = reinterpret_cast<HANDLE>(process_);
    WaitForSingleObject(process, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    result.status = static_cast<int>(status);
    CloseHandle(process);
    process_ = 0;
  }
  if (output_ == Stream::File) {
    const HANDLE file = OpenFile(outputPath, GENERIC_READ, OPEN_EXISTING);
    result.output = ReadAll(file);
    CloseHandle(file);
  }
  DeleteFileA(outputPath.c_str());
  DeleteFileA((files_ + ".stdin").c_str());
  return result;
}

}  // namespace korvella::testing
