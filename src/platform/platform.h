// The only door to the operating system: files, standard output, process start and
// end, the floating-point setting and code locations. Every file and console
// operation records its failure in one pending-error slot and does nothing at all
// while a failure is pending.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvella::platform {

using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;
inline constexpr FileHandle kStandardInput = 0;
inline constexpr FileHandle kStandardOutput = 1;

// Stored codes of the failures the program names itself.
inline constexpr std::uint16_t kWriteFailed = 101;
inline constexpr std::uint16_t kSharingViolation = 5;

// --- The pending-error slot -------------------------------------------------------

// True while a failed operation's code waits to be taken.
bool IoErrorPending();
// Returns the pending code (0 when none) and clears the slot.
std::uint16_t TakeIoError();
// Records a failure unless one is already pending (the first failure wins).
void StoreIoError(std::uint16_t code);
// The stored code (1..255) for an errno value.
std::uint16_t TranslateErrno(int error);

// --- Process --------------------------------------------------------------------

// Called with the stored code and the faulting instruction when an unmasked x87
// exception traps; it must not return.
using FloatingPointTrap = void (*)(std::uint16_t code, const void* instruction,
                                   const void* framePointer);

// Start-up: descriptors 0..2 open, SIGPIPE and SIGXFSZ ignored, x87 control word
// 0x1332 (64-bit significand, nearest, invalid/zero-divide/overflow trapping), and
// trapped exceptions handed to `onTrap`.
void StartProcess(FloatingPointTrap onTrap);
// The x87 control word now in force.
std::uint16_t FloatingPointControlWord();
// Ends the process at once with `status`; nothing is flushed or closed.
[[noreturn]] void EndProcess(int status);

// --- Files ------------------------------------------------------------------------

// True when the descriptor is a character device (terminal, /dev/null, /dev/full).
bool IsCharacterDevice(FileHandle handle);
// Opens an existing file for reading without blocking on a FIFO and without
// becoming a controlling terminal. A directory is refused as access denied.
FileHandle OpenForReading(const char* path);
// The end-of-file position, leaving the position where it was: note, seek to the
// end, seek back. 0 after a failure.
std::uint64_t QueryFileSize(FileHandle handle);
// Reads until `count` bytes have arrived, the end of the file, or a failure;
// returns how many arrived.
std::int32_t ReadFully(FileHandle handle, unsigned char* buffer, std::int32_t count);
// How many ReadFully requests the process has made: lets tests see the passes.
std::uint64_t ReadRequests();
// Closes the descriptor; the result is not examined.
void CloseFile(FileHandle handle);
// One write of `count` bytes; a failure or a short write stores 101.
void WriteText(FileHandle handle, const char* bytes, std::size_t count);

// --- The result log ----------------------------------------------------------------

// Opens an existing file read-only, only to learn that it exists.
FileHandle OpenExistingForProbe(const char* path);
// Creates the file if it is absent; an existing file is left untouched (never
// truncated). Returns no descriptor.
void CreateIfAbsent(const char* path);
// Opens an existing file for appending and takes an exclusive lock on it, waiting
// up to `waitMilliseconds` for another holder; a lock not had stores 5.
FileHandle OpenForAppendLocked(const char* path, int waitMilliseconds);

// Cuts the file back to `length` bytes. Runs even while a failure is pending: it
// undoes a partly written log line after that failure, and leaves the slot as is.
void TruncateTo(FileHandle handle, std::uint64_t length);

// Asks for large pages behind a long-lived buffer (fewer TLB misses while it is
// filled and scanned). Only advice: nothing fails if the system says no.
void AdviseLargePages(void* buffer, std::size_t size);

// --- Code locations ----------------------------------------------------------------

// The address relative to the start of the module (executable or library) that
// holds it, so that it is the same in every run.
std::uintptr_t ModuleOffset(const void* address);
// True when the address lies in the program's own executable.
bool InOwnExecutable(const void* address);
// Follows the saved frame pointers from `framePointer`, storing each frame's return address,
// up to and including the first that leaves the executable (the start-up code
// that called main). Stops early after `limit` addresses or at a frame that does
// not look like one. Returns how many were stored.
std::size_t CollectCallLevels(const void* framePointer, const void** levels, std::size_t limit);

}  // namespace korvella::platform
