// Loaded into the tool with LD_PRELOAD: a system at the edge of what POSIX
// allows, so that the code this kernel never needs still runs under test.
// - A regular file reports a size of 0, as files in /proc do.
// - Of every three calls of read, write, select and tcsetattr, the calls
//   that POSIX lets a signal interrupt, two fail with EINTR, as if a signal
//   had come (never while signals are held, when none can); one that
//   succeeds leaves errno at EINTR. So do two of every three calls of
//   pselect, which lets signals in whatever the caller holds.
// - A write takes all but the last byte, as a short write may.
// - With HOSTILE_STDOUT_TAKES_NOTHING set, a write to standard output takes
//   nothing and reports no error, as a device may.
#include <dlfcn.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#define NEXT(name, ...) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))(__VA_ARGS__)

extern "C" int fstat(int fd, struct stat* st) noexcept {
  const int result = NEXT(fstat, fd, st);
  if (result == 0 && S_ISREG(st->st_mode)) st->st_size = 0;
  return result;
}

#define INTERRUPTED(name, ...)                                                        \
  static int calls = 0;                                                               \
  sigset_t held{};                                                                    \
  sigprocmask(SIG_BLOCK, nullptr, &held);                                             \
  if (sigismember(&held, SIGCONT) != 1 && calls++ % 3 != 2) return errno = EINTR, -1; \
  const auto result = NEXT(name, __VA_ARGS__);                                        \
  if (result >= 0) errno = EINTR;                                                     \
  return result

extern "C" ssize_t read(int fd, void* to, std::size_t size) { INTERRUPTED(read, fd, to, size); }
extern "C" ssize_t write(int fd, const void* from, std::size_t size) {
  static const bool takes_nothing = getenv("HOSTILE_STDOUT_TAKES_NOTHING") != nullptr;
  if (fd == 1 && takes_nothing) return errno = EINTR, 0;
  INTERRUPTED(write, fd, from, size > 1 ? size - 1 : size);
}
extern "C" int select(int n, fd_set* in, fd_set* out, fd_set* error, timeval* wait) {
  INTERRUPTED(select, n, in, out, error, wait);
}
extern "C" int pselect(int n, fd_set* in, fd_set* out, fd_set* error, const timespec* wait,
                       const sigset_t* mask) {
  static int calls = 0;
  if (calls++ % 3 != 2) return errno = EINTR, -1;
  return NEXT(pselect, n, in, out, error, wait, mask);
}
extern "C" int tcsetattr(int fd, int when, const termios* mode) noexcept {
  INTERRUPTED(tcsetattr, fd, when, mode);
}
