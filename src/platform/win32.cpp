// The platform layer on Windows (x86-64, MinGW-w64).
#include <windows.h>

#include <algorithm>

#include "platform/platform.h"

namespace korvella::platform {
namespace {

// 64-bit significand, round to nearest; invalid, zero-divide and overflow trap.
constexpr std::uint16_t kControlWord = 0x1332;

FloatingPointTrap trapHandler = nullptr;
// The setting StartProcess made, for threads started later (0: none made).
std::uint16_t processControlWord = 0;
// The stack pointer right after main returns to the start-up code: the call
// levels of a failure report end there. 0 until TakeProcessArguments notes it.
DWORD64 mainCallerStack = 0;

// Console events wait on this while the log is held (see OpenLogForAppend).
SRWLOCK logHeld = SRWLOCK_INIT;
bool holdingLog = false;

HANDLE standardInput = nullptr;
HANDLE standardOutput = nullptr;
HANDLE standardError = nullptr;

HANDLE Native(FileHandle handle) { return reinterpret_cast<HANDLE>(handle.value); }
FileHandle HandleOf(HANDLE handle) { return FileHandle{reinterpret_cast<std::uintptr_t>(handle)}; }

void StoreLastError() { StoreIoError(TranslateSystemError(GetLastError())); }

void SetControlWord(std::uint16_t controlWord) {
  __asm__ volatile("fninit\n\tfldcw %0" : : "m"(controlWord));
}

// The process's standard handle, looked up once; where there is none (a null or
// invalid handle), NUL takes its place and the run goes on, as on Linux.
HANDLE StandardHandle(DWORD which, DWORD access, HANDLE& cached) {
  if (cached != nullptr) return cached;
  HANDLE handle = GetStdHandle(which);
  SetLastError(NO_ERROR);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      (GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)) {
    handle = CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  cached = handle;
  return cached;
}

// A console that counts characters rather than bytes: a short count from it is
// no failure.
bool IsUnicodeConsole(HANDLE handle) {
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return false;
  switch (GetConsoleOutputCP()) {
    case 1200:
    case 1201:
    case 12000:
    case 12001:
    case 65000:
    case 65001: return true;
    default: return false;
  }
}

// --- Code locations -----------------------------------------------------------------

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

bool InOwnModule(DWORD64 address) {
  static const HMODULE own = ModuleOf(reinterpret_cast<const void*>(&InOwnModule));
  return ModuleOf(reinterpret_cast<const void*>(address)) == own;
}

// The calling thread's stack, lowest and highest address.
struct Stack {
  DWORD64 low;
  DWORD64 high;
};
Stack ThreadStack() {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return {low, high};
}

// Moves `context` from a function to the point where its caller continues, by the
// unwind tables (GCC keeps no plain frame-pointer chain on Windows x64). False when
// the result is not a frame on this stack.
bool UnwindToCaller(CONTEXT& context, const Stack& stack) {
  const DWORD64 before = context.Rsp;
  if (before < stack.low || before >= stack.high || before % 8 != 0) return false;
  DWORD64 imageBase = 0;
  if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr)) {
    void* handlerData = nullptr;
    DWORD64 establisherFrame = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                     &establisherFrame, nullptr);
  } else {
    // A leaf function without unwind data: the return address is on top.
    if (before + sizeof(DWORD64) > stack.high) return false;
    context.Rip = *reinterpret_cast<const DWORD64*>(before);
    context.Rsp = before + sizeof(DWORD64);
  }
  return context.Rip != 0 && context.Rsp > before && context.Rsp <= stack.high;
}

// The return locations above the function `context` is in, innermost first, up
// to and including the one into the start-up code that called main (or the first
// outside this module, where a thread began).
void CollectCallLevels(CONTEXT context, FailureSite& site) {
  const Stack stack = ThreadStack();
  const bool mainOnThisStack = mainCallerStack > stack.low && mainCallerStack <= stack.high;
  site.levelCount = 0;
  while (site.levelCount < kMaxCallLevels && UnwindToCaller(context, stack)) {
    site.levels[site.levelCount++] = reinterpret_cast<const void*>(context.Rip);
    if (!InOwnModule(context.Rip)) break;
    if (mainOnThisStack && context.Rsp >= mainCallerStack) break;
  }
}

// From `context`, captured in a function: the place where that function's caller
// returns to, and the levels above it.
void SiteTwoFramesUp(CONTEXT& context, FailureSite& site) {
  const Stack stack = ThreadStack();
  site.location = nullptr;
  site.levelCount = 0;
  if (!UnwindToCaller(context, stack) || !UnwindToCaller(context, stack)) return;
  site.location = reinterpret_cast<const void*>(context.Rip);
  CollectCallLevels(context, site);
}

// The x87 reports an exception at its next instruction, maybe in another function:
// the one that raised it is the last-instruction pointer of the saved FPU state
// (64 bits in the FXSAVE64 layout). 0 where the system did not fill it.
DWORD64 X87InstructionPointer(const CONTEXT& context) {
  if ((context.ContextFlags & CONTEXT_FLOATING_POINT) != CONTEXT_FLOATING_POINT) return 0;
  const XMM_SAVE_AREA32& state = context.FltSave;
  return DWORD64{state.ErrorOffset} | (DWORD64{state.ErrorSelector} << 32) |
         (DWORD64{state.Reserved2} << 48);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  std::uint16_t code = 0;
  switch (record.ExceptionCode) {
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO: code = 200; break;
    case EXCEPTION_FLT_OVERFLOW: code = 205; break;
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW: code = 207; break;
    default: return EXCEPTION_CONTINUE_SEARCH;  // the system's own end of a crash
  }
  if (trapHandler == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  static FailureSite site;
  static CONTEXT context;
  context = *exception->ContextRecord;
  site.location = record.ExceptionAddress;
  // An integer division has no FPU state of its own.
  if (record.ExceptionCode != EXCEPTION_INT_DIVIDE_BY_ZERO) {
    if (const DWORD64 x87 = X87InstructionPointer(context); x87 != 0) {
      site.location = reinterpret_cast<const void*>(x87);
    }
  }
  CollectCallLevels(context, site);
  trapHandler(code, site);
  return EXCEPTION_CONTINUE_SEARCH;
}

// While the log is held, a console event (Ctrl+C, Ctrl+Break, the console closing)
// waits here until CloseLog; then the system's own handler ends the process.
BOOL WINAPI LetThroughAfterLog(DWORD) {
  AcquireSRWLockShared(&logHeld);
  ReleaseSRWLockShared(&logHeld);
  return FALSE;
}

DWORD WINAPI RunThread(void* start) {
  // A new thread starts with the system's x87 setting (a 53-bit significand).
  if (processControlWord != 0) SetControlWord(processControlWord);
  const auto* thread = static_cast<const Thread*>(start);
  thread->work(thread->argument);
  return 0;
}

}  // namespace

void StartProcess(FloatingPointTrap onTrap) {
  // A console tool fails instead of asking (no "insert a disk" box in a script).
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  (void)StandardInput();
  (void)StandardOutput();
  trapHandler = onTrap;
  SetUnhandledExceptionFilter(OnUnhandledException);
  processControlWord = kControlWord;
  SetControlWord(kControlWord);
}

bool HasFloatingPointControlWord() { return true; }

std::uint16_t FloatingPointControlWord() {
  std::uint16_t controlWord = 0;
  __asm__ volatile("fnstcw %0" : "=m"(controlWord));
  return controlWord;
}

void EndProcess(int status) { ExitProcess(static_cast<UINT>(status)); }

// main calls this itself, so two steps up from here is the start-up code.
__attribute__((noinline)) ProcessArguments TakeProcessArguments(int argc, const char* const* argv) {
  CONTEXT context{};
  RtlCaptureContext(&context);
  const Stack stack = ThreadStack();
  if (UnwindToCaller(context, stack) && UnwindToCaller(context, stack)) {
    mainCallerStack = context.Rsp;
  }
  // The C runtime's argv expands wildcards and gives backslashes a meaning; the
  // program splits the command line by its own rules.
  return ProcessArguments{argc, argv, GetCommandLineA()};
}

__attribute__((noinline)) void CaptureCallerSite(FailureSite& site) {
  CONTEXT context{};
  RtlCaptureContext(&context);
  SiteTwoFramesUp(context, site);
}

__attribute__((noinline)) void RaiseFloatingPointTrap(std::uint16_t code) {
  static FailureSite site;
  static CONTEXT context;
  RtlCaptureContext(&context);
  SiteTwoFramesUp(context, site);
  if (trapHandler != nullptr) trapHandler(code, site);
  ExitProcess(code);  // no handler yet, or one that returned
}

std::uintptr_t ModuleOffset(const void* address) {
  const HMODULE module = ModuleOf(address);
  if (module == nullptr) return reinterpret_cast<std::uintptr_t>(address);
  return reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module);
}

bool StartThread(Thread& thread, void (*work)(void*), void* argument) {
  thread.work = work;
  thread.argument = argument;
  // The counting needs little stack; a small one is had under tight memory limits.
  const HANDLE handle = CreateThread(nullptr, 256u << 10, RunThread, &thread,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (handle == nullptr) return false;
  thread.value = reinterpret_cast<std::uintptr_t>(handle);
  return true;
}

void JoinThread(Thread thread) {
  const auto handle = reinterpret_cast<HANDLE>(thread.value);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}

FileHandle StandardInput() {
  return HandleOf(StandardHandle(STD_INPUT_HANDLE, GENERIC_READ, standardInput));
}

FileHandle StandardOutput() {
  return HandleOf(StandardHandle(STD_OUTPUT_HANDLE, GENERIC_WRITE, standardOutput));
}

bool IsCharacterDevice(FileHandle handle) { return GetFileType(Native(handle)) == FILE_TYPE_CHAR; }

FileHandle OpenForReading(std::string_view name) {
  if (IoErrorPending()) return kNoFile;
  char path[256];
  if (name.size() >= sizeof path) {
    StoreIoError(TranslateSystemError(ERROR_FILENAME_EXCED_RANGE));
    return kNoFile;
  }
  *std::replace_copy(name.begin(), name.end(), path, '/', '\\') = '\0';
  // Others may read the file meanwhile, but not write it. Without backup
  // semantics a directory is refused.
  const HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    StoreLastError();
    return kNoFile;
  }
  return HandleOf(handle);
}

std::uint64_t QueryFileSize(FileHandle handle) {
  if (IoErrorPending()) return 0;
  const HANDLE native = Native(handle);
  LARGE_INTEGER start{};
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(native, LARGE_INTEGER{}, &start, FILE_CURRENT) ||
      !SetFilePointerEx(native, LARGE_INTEGER{}, &end, FILE_END) ||
      !SetFilePointerEx(native, start, nullptr, FILE_BEGIN)) {
    const DWORD error = GetLastError();
    // A pipe or a console cannot be measured: a seek error, as on Linux, whatever
    // the system called it.
    StoreIoError(TranslateSystemError(GetFileType(native) == FILE_TYPE_DISK ? error : ERROR_SEEK));
    return 0;
  }
  return static_cast<std::uint64_t>(end.QuadPart);
}

std::int32_t ReadFully(FileHandle handle, unsigned char* buffer, std::int32_t count) {
  if (IoErrorPending()) return 0;
  std::int32_t delivered = 0;
  while (delivered < count) {
    DWORD got = 0;
    if (!ReadFile(Native(handle), buffer + delivered, static_cast<DWORD>(count - delivered), &got,
                  nullptr)) {
      // A pipe whose writer has gone is at its end.
      if (GetLastError() != ERROR_BROKEN_PIPE) StoreLastError();
      break;
    }
    if (got == 0) break;  // end of file
    delivered += static_cast<std::int32_t>(got);
  }
  return delivered;
}

void CloseFile(FileHandle handle) {
  if (IoErrorPending()) return;
  CloseHandle(Native(handle));  // closing an input cannot fail in a way the run could act on
}

void WriteText(FileHandle handle, const char* bytes, std::size_t count) {
  if (IoErrorPending() || count == 0) return;
  const HANDLE native = Native(handle);
  DWORD written = 0;
  if (!WriteFile(native, bytes, static_cast<DWORD>(count), &written, nullptr) ||
      (written < count && !IsUnicodeConsole(native))) {
    StoreIoError(kWriteFailed);
  }
}

FileHandle OpenLogForAppend(const char* name, int waitMilliseconds) {
  if (IoErrorPending()) return kNoFile;
  // The probe only decides whether to create the log; an existing one is never
  // created anew (that would empty it).
  const HANDLE probe =
      CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
  } else {
    const HANDLE created =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      CloseHandle(created);
    } else if (GetLastError() != ERROR_FILE_EXISTS) {  // there: another run made it
      StoreLastError();
      return kNoFile;
    }
  }
  // Share mode 0: while another run appends, this one waits its turn.
  const ULONGLONG started = GetTickCount64();
  HANDLE log = INVALID_HANDLE_VALUE;
  for (;;) {
    log = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
      StoreIoError(TranslateSystemError(error));
      return kNoFile;
    }
    if (GetTickCount64() - started >= static_cast<ULONGLONG>(waitMilliseconds)) {
      StoreIoError(kSharingViolation);
      return kNoFile;
    }
    Sleep(10);
  }
  if (!SetFilePointerEx(log, LARGE_INTEGER{}, nullptr, FILE_END)) {
    StoreLastError();
    CloseHandle(log);
    return kNoFile;
  }
  AcquireSRWLockExclusive(&logHeld);
  holdingLog = true;
  static const bool handlerSet = SetConsoleCtrlHandler(LetThroughAfterLog, TRUE) != FALSE;
  (void)handlerSet;
  return HandleOf(log);
}

void TruncateTo(FileHandle handle, std::uint64_t length) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(length);
  if (SetFilePointerEx(Native(handle), position, nullptr, FILE_BEGIN)) SetEndOfFile(Native(handle));
}

void CloseLog(FileHandle handle) {
  // Write-back errors and quotas on network file systems show up here.
  if (!CloseHandle(Native(handle))) StoreIoError(kWriteFailed);
  if (holdingLog) {
    holdingLog = false;
    ReleaseSRWLockExclusive(&logHeld);
  }
}

FileHandle StandardError() {
  return HandleOf(StandardHandle(STD_ERROR_HANDLE, GENERIC_WRITE, standardError));
}

bool IsTerminal(FileHandle handle) {
  DWORD mode = 0;
  return GetConsoleMode(Native(handle), &mode) != FALSE;
}

void WriteBestEffort(FileHandle handle, const char* bytes, std::size_t count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(Native(handle), bytes, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      return;
    }
    bytes += written;
    count -= written;
  }
}

std::uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

// Large pages need a privilege and must be asked for when the memory is reserved;
// the buffers do without.
void AdviseLargePages(void*, std::size_t) {}

}  // namespace korvella::platform
