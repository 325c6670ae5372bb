// Loaded into korvella with LD_PRELOAD by the end-to-end tests: makes the system
// fail where a real one rarely does, as KORVELLA_FAULT says.
//   no-thread          pthread_create refuses (as under a process or memory limit)
//   term-mid-log       SIGTERM arrives right after the first write to korvella.log
//   log-close-fails    closing korvella.log reports EIO (a write-back error)
//   fast-clock         the monotonic clock runs a thousand times too fast
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

bool Fault(const char* name) {
  const char* fault = std::getenv("KORVELLA_FAULT");
  return fault != nullptr && std::strcmp(fault, name) == 0;
}

bool IsLog(int fd) {
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (length <= 0) return false;
  path[length] = '\0';
  const char* const tail = "/korvella.log";
  const std::size_t tailLength = std::strlen(tail);
  return static_cast<std::size_t>(length) >= tailLength &&
         std::strcmp(path + length - tailLength, tail) == 0;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
  if (Fault("no-thread")) return EAGAIN;
  static const auto next =
      Next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
  return next(thread, attributes, start, argument);
}

ssize_t write(int fd, const void* bytes, std::size_t count) {
  static const auto next = Next<ssize_t (*)(int, const void*, std::size_t)>("write");
  const ssize_t written = next(fd, bytes, count);
  static bool raised = false;
  if (!raised && Fault("term-mid-log") && IsLog(fd)) {
    raised = true;
    kill(getpid(), SIGTERM);  // to the process, as a user or a service manager sends it
  }
  return written;
}

int close(int fd) {
  static const auto next = Next<int (*)(int)>("close");
  const bool failLog = Fault("log-close-fails") && IsLog(fd);
  const int result = next(fd);
  if (!failLog) return result;
  errno = EIO;
  return -1;
}

int clock_gettime(clockid_t clock, timespec* now) {
  static const auto next = Next<int (*)(clockid_t, timespec*)>("clock_gettime");
  const int result = next(clock, now);
  if (result == 0 && clock == CLOCK_MONOTONIC && Fault("fast-clock")) {
    const long long ms = (now->tv_sec * 1000LL + now->tv_nsec / 1000000) * 1000;
    now->tv_sec = ms / 1000;
    now->tv_nsec = (ms % 1000) * 1000000;
  }
  return result;
}

}  // extern "C"
