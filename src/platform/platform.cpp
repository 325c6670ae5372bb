#include "platform/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <fpu_control.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace korvella::platform {
namespace {

std::uint16_t pendingIoError = 0;
std::uint64_t readRequests = 0;
FloatingPointTrap trapHandler = nullptr;

// Retries a system call that a signal interrupted.
template <typename Call>
auto Retry(Call call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

void StoreErrno() { StoreIoError(TranslateErrno(errno)); }

void OnFloatingPointTrap(int, siginfo_t* info, void* context) {
  std::uint16_t code = 207;
  if (info->si_code == FPE_FLTDIV || info->si_code == FPE_INTDIV) code = 200;
  if (info->si_code == FPE_FLTOVF) code = 205;
  const auto* ucontext = static_cast<const ucontext_t*>(context);
  const void* framePointer = reinterpret_cast<const void*>(ucontext->uc_mcontext.gregs[REG_RBP]);
  // The x87 status word keeps the exception flagged; clear it before any more
  // extended arithmetic runs on the way out.
  __asm__ volatile("fnclex");
  trapHandler(code, info->si_addr, framePointer);
}

}  // namespace

bool IoErrorPending() { return pendingIoError != 0; }

std::uint16_t TakeIoError() {
  const std::uint16_t code = pendingIoError;
  pendingIoError = 0;
  return code;
}

void StoreIoError(std::uint16_t code) {
  if (pendingIoError == 0) pendingIoError = code;
}

std::uint16_t TranslateErrno(int error) {
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
    case EROFS: return 150;
    case ENXIO:
    case ENODEV: return 152;
    case EIO: return 154;
    case ESPIPE: return 156;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return kSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kWriteFailed;
    case EEXIST:
    case ENOTEMPTY: return 5;
    case ENAMETOOLONG: return 206;
    case EINVAL: return 87;
    default: return 162;
  }
}

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
  struct sigaction trap {};
  trap.sa_sigaction = OnFloatingPointTrap;
  trap.sa_flags = SA_SIGINFO;
  sigemptyset(&trap.sa_mask);
  sigaction(SIGFPE, &trap, nullptr);

  __asm__ volatile("fninit");
  const fpu_control_t controlWord = 0x1332;
  _FPU_SETCW(controlWord);
}

std::uint16_t FloatingPointControlWord() {
  fpu_control_t controlWord = 0;
  _FPU_GETCW(controlWord);
  return static_cast<std::uint16_t>(controlWord);
}

void EndProcess(int status) { _exit(status); }

bool IsCharacterDevice(FileHandle handle) {
  struct stat info {};
  return fstat(handle, &info) == 0 && S_ISCHR(info.st_mode);
}

FileHandle OpenForReading(const char* path) {
  if (IoErrorPending()) return kNoFile;
  const int fd = Retry([&] { return open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd == -1) {
    StoreErrno();
    return kNoFile;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    StoreIoError(TranslateErrno(S_ISDIR(info.st_mode) ? EISDIR : errno));
    close(fd);
    return kNoFile;
  }
  // Non-blocking was only for the open itself: a FIFO without a writer must not
  // hang the run there. Reads block as usual.
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::uint64_t QueryFileSize(FileHandle handle) {
  if (IoErrorPending()) return 0;
  const off_t start = lseek(handle, 0, SEEK_CUR);
  if (start == -1) {
    StoreErrno();
    return 0;
  }
  const off_t end = lseek(handle, 0, SEEK_END);
  if (end == -1) {
    StoreErrno();
    return 0;
  }
  if (lseek(handle, start, SEEK_SET) == -1) {
    StoreErrno();
    return 0;
  }
  return static_cast<std::uint64_t>(end);
}

std::int32_t ReadFully(FileHandle handle, unsigned char* buffer, std::int32_t count) {
  if (IoErrorPending()) return 0;
  ++readRequests;
  std::int32_t delivered = 0;
  while (delivered < count) {
    const ssize_t got = Retry([&] {
      return read(handle, buffer + delivered, static_cast<std::size_t>(count - delivered));
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

std::uint64_t ReadRequests() { return readRequests; }

void CloseFile(FileHandle handle) {
  if (IoErrorPending()) return;
  close(handle);  // closing an input cannot fail in a way the run could act on
}

void WriteText(FileHandle handle, const char* bytes, std::size_t count) {
  if (IoErrorPending() || count == 0) return;
  const ssize_t written = Retry([&] { return write(handle, bytes, count); });
  if (written != static_cast<ssize_t>(count)) StoreIoError(kWriteFailed);
}

FileHandle OpenExistingForProbe(const char* path) {
  if (IoErrorPending()) return kNoFile;
  const int fd = Retry([&] { return open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd == -1) StoreErrno();
  return fd;
}

void CreateIfAbsent(const char* path) {
  if (IoErrorPending()) return;
  const int fd =
      Retry([&] { return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666); });
  if (fd == -1) {
    // Someone else created it meanwhile, or it was there but not readable:
    // either way appending to it is what follows.
    if (errno != EEXIST) StoreErrno();
    return;
  }
  close(fd);
}

FileHandle OpenForAppendLocked(const char* path, int waitMilliseconds) {
  if (IoErrorPending()) return kNoFile;
  const int fd =
      Retry([&] { return open(path, O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd == -1) {
    StoreErrno();
    return kNoFile;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const timespec pause{0, 10'000'000};
  for (int waited = 0;; waited += 10) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (waited >= waitMilliseconds) break;
    nanosleep(&pause, nullptr);
  }
  StoreIoError(errno == EWOULDBLOCK ? kSharingViolation : TranslateErrno(errno));
  close(fd);
  return kNoFile;
}

void TruncateTo(FileHandle handle, std::uint64_t length) {
  Retry([&] { return ftruncate(handle, static_cast<off_t>(length)); });
}

void AdviseLargePages(void* buffer, std::size_t size) { madvise(buffer, size, MADV_HUGEPAGE); }

std::uintptr_t ModuleOffset(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
    return reinterpret_cast<std::uintptr_t>(address);
  }
  return reinterpret_cast<std::uintptr_t>(address) -
         reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

bool InOwnExecutable(const void* address) {
  Dl_info mine{};
  Dl_info theirs{};
  return dladdr(reinterpret_cast<const void*>(&InOwnExecutable), &mine) != 0 &&
         dladdr(address, &theirs) != 0 && mine.dli_fbase == theirs.dli_fbase;
}

std::size_t CollectCallLevels(const void* framePointer, const void** levels, std::size_t limit) {
  std::size_t count = 0;
  const auto* frame = static_cast<const void* const*>(framePointer);
  while (count < limit && frame != nullptr &&
         reinterpret_cast<std::uintptr_t>(frame) % alignof(void*) == 0) {
    const void* returnAddress = frame[1];
    if (returnAddress == nullptr) break;
    levels[count++] = returnAddress;
    if (!InOwnExecutable(returnAddress)) break;  // the start-up code that called main
    const auto* next = static_cast<const void* const*>(frame[0]);
    // Frames lie ever higher on the stack; anything else is not a frame of ours.
    if (next <= frame ||
        reinterpret_cast<std::uintptr_t>(next) - reinterpret_cast<std::uintptr_t>(frame) >
            (64u << 20)) {
      break;
    }
    frame = next;
  }
  return count;
}

}  // namespace korvella::platform
