// The only door to the operating system: files, standard streams, process start and
// end, threads, the floating-point setting and code locations. One interface, one
// implementation per system (posix.cpp, win32.cpp). Every file and console
// operation records its failure in one pending-error slot and does nothing at all
// while a failure is pending.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvella::platform {

// An open file or stream of the system; what it holds is the system's business.
struct FileHandle {
  std::uintptr_t value;
  friend bool operator==(FileHandle, FileHandle) = default;
};
inline constexpr FileHandle kNoFile{~std::uintptr_t{0}};

// Stored codes of the failures the program names itself.
inline constexpr std::uint16_t kWriteFailed = 101;
inline constexpr std::uint16_t kSharingViolation = 5;

// --- The pending-error slot (errors.cpp, shared by every system) ------------------

// True while a failed operation's code waits to be taken.
bool IoErrorPending();
// Returns the pending code (0 when none) and clears the slot.
std::uint16_t TakeIoError();
// Records a failure unless one is already pending (the first failure wins).
void StoreIoError(std::uint16_t code);
// The stored code for a failure the system reported, named by its Windows error
// code: below 19 as it is, 19..31 plus 131, sharing violation, directory not
// empty and already exists 5, disk full 101, anything else its low 16 bits. Never
// 0: a failure must never read as success.
std::uint16_t TranslateSystemError(std::uint32_t windowsCode);

// --- Process -----------------------------------------------------------------------

// Where a failure was detected and the return locations of the enclosing calls,
// innermost first, up to and including the start-up code that called main.
inline constexpr std::size_t kMaxCallLevels = 257;
struct FailureSite {
  const void* location = nullptr;
  std::array<const void*, kMaxCallLevels> levels{};
  std::size_t levelCount = 0;
};

// Called with the stored code and the site when a floating-point exception
// traps; it must not return.
using FloatingPointTrap = void (*)(std::uint16_t code, const FailureSite& site);

// Start-up: standard streams usable, broken pipes and file-size limits reported
// as write failures instead of killing the process, and, where the CPU has the
// x87, control word 0x1332 (64-bit significand, nearest, invalid, zero-divide and
// overflow trapping) with trapped exceptions handed to `onTrap`.
void StartProcess(FloatingPointTrap onTrap);
// Ends the process at once with `status`; nothing is flushed or closed.
[[noreturn]] void EndProcess(int status);

// The arguments as the system hands them over: a vector already split (POSIX),
// or one command-line string for the caller to split (Windows: `commandLine` is
// then set and argc/argv are not used).
struct ProcessArguments {
  int argc = 0;
  const char* const* argv = nullptr;
  const char* commandLine = nullptr;
};
// Called by main itself, with its own argc and argv: on Windows it also notes
// where main returns to, the start-up code, where a failure report's levels end.
ProcessArguments TakeProcessArguments(int argc, const char* const* argv);

// Fills `site` with the place the calling function returns to and the call
// levels above it. Used by the check after each file or console operation.
void CaptureCallerSite(FailureSite& site);
// Reports a floating-point exception raised in software (no x87) the way a
// hardware trap is reported: the location is where the calling function
// returns to. Does not return.
[[noreturn]] void RaiseFloatingPointTrap(std::uint16_t code);
// The address relative to the start of the module (executable or library) that
// holds it, so that it is the same in every run.
std::uintptr_t ModuleOffset(const void* address);

// --- Threads ------------------------------------------------------------------------

// A thread's handle and its work; it must outlive the thread.
struct Thread {
  std::uintptr_t value = 0;
  void (*work)(void*) = nullptr;
  void* argument = nullptr;
};
// Runs `work(argument)` on a new thread. False when the system cannot give one
// (memory or process limits): the caller then does the work itself.
bool StartThread(Thread& thread, void (*work)(void*), void* argument);
// Waits for a thread started by StartThread.
void JoinThread(Thread thread);

// --- Files ------------------------------------------------------------------------

FileHandle StandardInput();
FileHandle StandardOutput();
// True when the handle is a character device (terminal or console, the null
// device). Asked once per stream.
bool IsCharacterDevice(FileHandle handle);
// Opens an existing file for reading. Both '/' and '\' separate directories in
// `name`. Standard streams are never returned; a directory is refused.
FileHandle OpenForReading(std::string_view name);
// The end-of-file position, leaving the position where it was: note, move to the
// end, move back. 0 after a failure.
std::uint64_t QueryFileSize(FileHandle handle);
// Reads until `count` bytes have arrived, the end of the file (or of a pipe whose
// writer has gone), or a failure; returns how many arrived.
std::int32_t ReadFully(FileHandle handle, unsigned char* buffer, std::int32_t count);
// Closes an input; the result is not examined.
void CloseFile(FileHandle handle);
// One write of `count` bytes; a failure or a short write stores 101.
void WriteText(FileHandle handle, const char* bytes, std::size_t count);

// --- The result log ----------------------------------------------------------------

// Opens the log for appending, creating it when absent and never truncating it
// (a symlink to a file not yet there creates that file), and holds it for this
// process alone, waiting up to `waitMilliseconds` for another holder; a hold not
// had stores 5. From then until CloseLog, termination signals (Ctrl+C) wait, so
// that a line is in the log whole or not at all.
FileHandle OpenLogForAppend(const char* name, int waitMilliseconds);
// Cuts the file back to `length` bytes. Runs even while a failure is pending: it
// undoes a partly written log line after that failure, and leaves the slot as is.
void TruncateTo(FileHandle handle, std::uint64_t length);
// Closes the log and lets waiting termination signals through. A failed close
// stores 101: write-back errors and quotas on network file systems show there.
void CloseLog(FileHandle handle);

// --- The progress display (best effort, never part of the output) ----------------

FileHandle StandardError();
// True when the handle is an interactive terminal or console (not the null device).
bool IsTerminal(FileHandle handle);
// Writes what it can; failures are ignored and leave the pending slot alone.
void WriteBestEffort(FileHandle handle, const char* bytes, std::size_t count);
// A monotonic clock in milliseconds, cheap enough to read for every read request.
std::uint64_t MonotonicMilliseconds();

// Asks for large pages behind a long-lived buffer (fewer TLB misses while it is
// filled and scanned). Only advice: nothing fails if the system says no.
void AdviseLargePages(void* buffer, std::size_t size);
// The alignment that lets such a buffer start on a large page. Windows object
// files align to at most 8 KiB, and there the advice is never taken.
#if defined(_WIN32)
inline constexpr std::size_t kLargePageAlignment = 4096;
#else
inline constexpr std::size_t kLargePageAlignment = std::size_t{2} << 20;
#endif

// --- For tests only -----------------------------------------------------------------

// True where StartProcess set the x87 control word (x86 only).
bool HasFloatingPointControlWord();
// The x87 control word now in force (0 where there is none).
std::uint16_t FloatingPointControlWord();

}  // namespace korvella::platform
