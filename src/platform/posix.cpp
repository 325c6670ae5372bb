// The platform layer on Linux (x86-64 and aarch64).
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>

#include "platform/platform.h"

#if defined(__x86_64__)
#include <fpu_control.h>
#define KORVELLA_X87 1
#else
#define KORVELLA_X87 0
#endif

namespace korvella::platform {

namespace {

constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;

FloatingPointTrap trapHandler = nullptr;
// The signal mask from before the log was taken, restored when it is closed.
sigset_t maskBeforeLog;

// SIGTERM, SIGINT and SIGHUP: what ends a run from outside.
sigset_t TerminationSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  return signals;
}

int Descriptor(FileHandle handle) { return static_cast<int>(handle.value); }
FileHandle HandleOf(int descriptor) { return FileHandle{static_cast<std::uintptr_t>(descriptor)}; }

// Retries a system call that a signal interrupted.
template <typename Call>
auto Retry(Call call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

// The Windows code of the same condition.
std::uint32_t WindowsCodeOf(int error) {
  switch (error) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ELOOP: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EISDIR: return 5;
    case EBADF: return 6;
    case ENOMEM: return 8;
    case EROFS: return 19;
    case ENXIO:
    case ENODEV: return 21;
    case EIO: return 23;
    case ESPIPE: return 25;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return 32;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 112;
    case EEXIST: return 183;
    case ENOTEMPTY: return 145;
    case ENAMETOOLONG: return 206;
    case EINVAL: return 87;
    default: return 31;
  }
}

// Files are opened with O_NONBLOCK, so that a FIFO without its other end cannot
// hang the run in open(); reads and writes then block as usual.
void BlockFromNowOn(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

void StoreErrno(int error) { StoreIoError(TranslateSystemError(WindowsCodeOf(error))); }
void StoreErrno() { StoreErrno(errno); }

bool InOwnExecutable(const void* address) {
  Dl_info mine{};
  Dl_info theirs{};
  return dladdr(reinterpret_cast<const void*>(&InOwnExecutable), &mine) != 0 &&
         dladdr(address, &theirs) != 0 && mine.dli_fbase == theirs.dli_fbase;
}

// Follows the saved frame pointers (a frame record is the caller's frame pointer,
// then the return address, on x86-64 and aarch64 alike), up to and including the
// first return address outside the executable: the start-up code that called main.
__attribute__((noinline)) void CollectCallLevels(const void* framePointer, FailureSite& site) {
  site.levelCount = 0;
  const auto* frame = static_cast<const void* const*>(framePointer);
  // The first frame too must lie on this stack, above this call: a trap in code
  // built without frame pointers leaves anything in the register.
  const char here = 0;
  const auto start = reinterpret_cast<std::uintptr_t>(&here);
  const auto first = reinterpret_cast<std::uintptr_t>(frame);
  if (first <= start || first - start > (64u << 20)) return;
  while (site.levelCount < kMaxCallLevels && frame != nullptr &&
         reinterpret_cast<std::uintptr_t>(frame) % alignof(void*) == 0) {
    const void* returnAddress = frame[1];
    if (returnAddress == nullptr) break;
    site.levels[site.levelCount++] = returnAddress;
    if (!InOwnExecutable(returnAddress)) break;
    const auto* next = static_cast<const void* const*>(frame[0]);
    // Frames lie ever higher on the stack; anything else is not a frame of ours.
    if (next <= frame ||
        reinterpret_cast<std::uintptr_t>(next) - reinterpret_cast<std::uintptr_t>(frame) >
            (64u << 20)) {
      break;
    }
    frame = next;
  }
}

// The site of the function that called the caller of this one: where it returns
// to, and the levels above it. Inlined into its callers, which are not.
[[gnu::always_inline]] inline void SiteTwoFramesUp(const void* const* ownFrame, FailureSite& site) {
  const auto* const* callerFrame = static_cast<const void* const*>(ownFrame[0]);
  site.location = callerFrame[1];
  CollectCallLevels(callerFrame[0], site);
}

#if KORVELLA_X87
void OnFloatingPointTrap(int, siginfo_t* info, void* context) {
  std::uint16_t code = 207;
  if (info->si_code == FPE_FLTDIV || info->si_code == FPE_INTDIV) code = 200;
  if (info->si_code == FPE_FLTOVF) code = 205;
  const auto* ucontext = static_cast<const ucontext_t*>(context);
  // The x87 reports an exception at its next instruction, maybe in another
  // function: the instruction that raised it is the FPU's last-instruction
  // pointer. An integer division has no FPU state of its own.
  static FailureSite site;
  site.location = info->si_addr;
  if (code != 200 || info->si_code == FPE_FLTDIV) {
    if (ucontext->uc_mcontext.fpregs != nullptr) {
      site.location = reinterpret_cast<const void*>(ucontext->uc_mcontext.fpregs->rip);
    }
  }
  CollectCallLevels(reinterpret_cast<const void*>(ucontext->uc_mcontext.gregs[REG_RBP]), site);
  trapHandler(code, site);
}
#endif

void* RunThread(void* start) {
  const auto* thread = static_cast<const Thread*>(start);
  thread->work(thread->argument);
  return nullptr;
}

}  // namespace

void StartProcess(FloatingPointTrap onTrap) {
  // An input or the log must never land on a standard descriptor.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened != fd && opened >= 0) close(opened);
    }
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);

  trapHandler = onTrap;
#if KORVELLA_X87
  struct sigaction trap {};
  trap.sa_sigaction = OnFloatingPointTrap;
  trap.sa_flags = SA_SIGINFO;
  sigemptyset(&trap.sa_mask);
  sigaction(SIGFPE, &trap, nullptr);

  __asm__ volatile("fninit");
  const fpu_control_t controlWord = 0x1332;
  _FPU_SETCW(controlWord);
#endif
}

bool HasFloatingPointControlWord() { return KORVELLA_X87 != 0; }

std::uint16_t FloatingPointControlWord() {
#if KORVELLA_X87
  fpu_control_t controlWord = 0;
  _FPU_GETCW(controlWord);
  return static_cast<std::uint16_t>(controlWord);
#else
  return 0;
#endif
}

void EndProcess(int status) { _exit(status); }

ProcessArguments TakeProcessArguments(int argc, const char* const* argv) {
  return ProcessArguments{argc, argv, nullptr};
}

__attribute__((noinline)) void CaptureCallerSite(FailureSite& site) {
  SiteTwoFramesUp(static_cast<const void* const*>(__builtin_frame_address(0)), site);
}

__attribute__((noinline)) void RaiseFloatingPointTrap(std::uint16_t code) {
  static FailureSite site;
  SiteTwoFramesUp(static_cast<const void* const*>(__builtin_frame_address(0)), site);
  if (trapHandler != nullptr) trapHandler(code, site);
  _exit(code);  // no handler yet, or one that returned
}

std::uintptr_t ModuleOffset(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
    return reinterpret_cast<std::uintptr_t>(address);
  }
  return reinterpret_cast<std::uintptr_t>(address) -
         reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

bool StartThread(Thread& thread, void (*work)(void*), void* argument) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  // The counting needs little stack; a small one is had under tight memory limits.
  pthread_attr_setstacksize(&attributes, 256u << 10);
  thread.work = work;
  thread.argument = argument;
  // Termination signals go to the main thread only: while it holds them back over
  // the log, no other thread may take them and end the process mid-line. The new
  // thread inherits the mask it is started with.
  const sigset_t termination = TerminationSignals();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &termination, &before);
  pthread_t id{};
  const bool started = pthread_create(&id, &attributes, RunThread, &thread) == 0;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  pthread_attr_destroy(&attributes);
  if (started) thread.value = static_cast<std::uintptr_t>(id);
  return started;
}

void JoinThread(Thread thread) { pthread_join(static_cast<pthread_t>(thread.value), nullptr); }

FileHandle StandardInput() { return HandleOf(kStandardInput); }
FileHandle StandardOutput() { return HandleOf(kStandardOutput); }

bool IsCharacterDevice(FileHandle handle) {
  struct stat info {};
  return fstat(Descriptor(handle), &info) == 0 && S_ISCHR(info.st_mode);
}

FileHandle OpenForReading(std::string_view name) {
  if (IoErrorPending()) return kNoFile;
  char path[256];
  if (name.size() >= sizeof path) {
    StoreErrno(ENAMETOOLONG);
    return kNoFile;
  }
  *std::replace_copy(name.begin(), name.end(), path, '\\', '/') = '\0';
  // Non-blocking only for the open itself (see BlockFromNowOn).
  const int fd = Retry([&] { return open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd == -1) {
    StoreErrno();
    return kNoFile;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    StoreErrno(S_ISDIR(info.st_mode) ? EISDIR : errno);
    close(fd);
    return kNoFile;
  }
  BlockFromNowOn(fd);
  return HandleOf(fd);
}

std::uint64_t QueryFileSize(FileHandle handle) {
  if (IoErrorPending()) return 0;
  const int fd = Descriptor(handle);
  const off_t start = lseek(fd, 0, SEEK_CUR);
  if (start == -1) {
    StoreErrno();
    return 0;
  }
  const off_t end = lseek(fd, 0, SEEK_END);
  if (end == -1) {
    StoreErrno();
    return 0;
  }
  if (lseek(fd, start, SEEK_SET) == -1) {
    StoreErrno();
    return 0;
  }
  return static_cast<std::uint64_t>(end);
}

std::int32_t ReadFully(FileHandle handle, unsigned char* buffer, std::int32_t count) {
  if (IoErrorPending()) return 0;
  std::int32_t delivered = 0;
  while (delivered < count) {
    const ssize_t got = Retry([&] {
      return read(Descriptor(handle), buffer + delivered,
                  static_cast<std::size_t>(count - delivered));
    });
    if (got == -1) {
      StoreErrno();
      break;
    }
    if (got == 0) break;  // end of file, or a pipe whose writer has gone
    delivered += static_cast<std::int32_t>(got);
  }
  return delivered;
}

void CloseFile(FileHandle handle) {
  if (IoErrorPending()) return;
  close(Descriptor(handle));  // closing an input cannot fail in a way the run could act on
}

void WriteText(FileHandle handle, const char* bytes, std::size_t count) {
  if (IoErrorPending() || count == 0) return;
  const ssize_t written = Retry([&] { return write(Descriptor(handle), bytes, count); });
  if (written != static_cast<ssize_t>(count)) StoreIoError(kWriteFailed);
}

FileHandle OpenLogForAppend(const char* name, int waitMilliseconds) {
  if (IoErrorPending()) return kNoFile;
  // No O_EXCL: a symlink to a log not yet there creates it. No O_TRUNC, ever. Not
  // blocking: a FIFO named korvella.log must not hang the run.
  const int fd = Retry([&] {
    return open(name, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
  });
  if (fd == -1) {
    StoreErrno();
    return kNoFile;
  }
  BlockFromNowOn(fd);
  const timespec pause{0, 10'000'000};
  for (int waited = 0;; waited += 10) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      const sigset_t termination = TerminationSignals();
      pthread_sigmask(SIG_BLOCK, &termination, &maskBeforeLog);
      return HandleOf(fd);
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (waited >= waitMilliseconds) break;
    nanosleep(&pause, nullptr);
  }
  StoreErrno();
  close(fd);
  return kNoFile;
}

void TruncateTo(FileHandle handle, std::uint64_t length) {
  Retry([&] { return ftruncate(Descriptor(handle), static_cast<off_t>(length)); });
}

void CloseLog(FileHandle handle) {
  // Write-back errors and quotas on network file systems show up here.
  if (close(Descriptor(handle)) != 0) StoreIoError(kWriteFailed);
  pthread_sigmask(SIG_SETMASK, &maskBeforeLog, nullptr);
}

FileHandle StandardError() { return HandleOf(2); }

bool IsTerminal(FileHandle handle) { return isatty(Descriptor(handle)) == 1; }

void WriteBestEffort(FileHandle handle, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = Retry([&] { return write(Descriptor(handle), bytes, count); });
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
}

std::uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

void AdviseLargePages(void* buffer, std::size_t size) { madvise(buffer, size, MADV_HUGEPAGE); }

}  // namespace korvella::platform
