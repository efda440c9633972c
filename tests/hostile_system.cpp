// Loaded into the tool with LD_PRELOAD: a system at the edge of what POSIX
// allows, so that the code this kernel never needs still runs under test.
// - A regular file reports a size of 0, as files in /proc do.
// - Of every three calls of read, write, select and tcsetattr, the calls
//   that POSIX lets a signal interrupt, two fail with EINTR, as if a signal
//   had come (never while signals are held, when none can); one that
//   succeeds leaves errno as a failure might have: EAGAIN after a read
//   (which may read the end of a terminal that has hung up), else EINTR.
// - Of every three calls of pselect, which lets signals in whatever the
//   caller holds, one fails with EINTR and one reports all it was asked
//   about ready at once, though nothing may be (another process may have
//   taken the byte, or the room, first).
// - A write to a terminal takes one byte and the next all but the last, in
//   turn, as a slow line may; any other write all but the last byte, as a
//   short write may.
// - An ending signal a process sends itself is lost, as the kernel drops it
//   for the first process of a PID namespace (docker run).
// And where these are set:
// - HOSTILE_STDOUT_TAKES_NOTHING: a write to standard output takes nothing
//   and reports no error, as a device may;
// - HOSTILE_TERMINAL_TAKES_NOTHING: so does a write to a terminal, with
//   errno at EAGAIN;
// - HOSTILE_PSELECT_FAILS: pselect fails for good, with ENOMEM.
#include <dlfcn.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#define NEXT(name, ...) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))(__VA_ARGS__)

extern "C" int fstat(int fd, struct stat* st) noexcept {
  const int result = NEXT(fstat, fd, st);
  if (result == 0 && S_ISREG(st->st_mode)) st->st_size = 0;
  return result;
}

#define INTERRUPTED(stale, name, ...)                                                 \
  static int calls = 0;                                                               \
  sigset_t held{};                                                                    \
  sigprocmask(SIG_BLOCK, nullptr, &held);                                             \
  if (sigismember(&held, SIGCONT) != 1 && calls++ % 3 != 2) return errno = EINTR, -1; \
  const auto result = NEXT(name, __VA_ARGS__);                                        \
  if (result >= 0) errno = stale;                                                     \
  return result

extern "C" ssize_t read(int fd, void* to, std::size_t size) { INTERRUPTED(EAGAIN, read, fd, to, size); }
extern "C" ssize_t write(int fd, const void* from, std::size_t size) {
  static const bool stdout_takes_nothing = getenv("HOSTILE_STDOUT_TAKES_NOTHING") != nullptr;
  static const bool terminal_takes_nothing = getenv("HOSTILE_TERMINAL_TAKES_NOTHING") != nullptr;
  if (fd == 1 && stdout_takes_nothing) return errno = EINTR, 0;
  const bool terminal = isatty(fd) != 0;
  if (terminal && terminal_takes_nothing) return errno = EAGAIN, 0;
  static bool one_byte = false;
  one_byte = terminal && !one_byte;
  const std::size_t takes = one_byte ? std::min<std::size_t>(size, 1) : size > 1 ? size - 1 : size;
  INTERRUPTED(EINTR, write, fd, from, takes);
}
extern "C" int select(int n, fd_set* in, fd_set* out, fd_set* error, timeval* wait) {
  INTERRUPTED(EINTR, select, n, in, out, error, wait);
}
extern "C" int pselect(int n, fd_set* in, fd_set* out, fd_set* error, const timespec* wait,
                       const sigset_t* mask) {
  static const bool fails = getenv("HOSTILE_PSELECT_FAILS") != nullptr;
  static int calls = 0;
  if (fails) return errno = ENOMEM, -1;
  switch (calls++ % 3) {
    case 0:
      return errno = EINTR, -1;
    case 1: {  // each set left as it came: all of it ready
      int ready = 0;
      for (fd_set* set : std::array{in, out, error})
        for (int fd = 0; set != nullptr && fd < n; ++fd) ready += FD_ISSET(fd, set) ? 1 : 0;
      if (ready > 0) return ready;
      return errno = EINTR, -1;
    }
    default:
      return NEXT(pselect, n, in, out, error, wait, mask);
  }
}
extern "C" int tcsetattr(int fd, int when, const termios* mode) noexcept {
  INTERRUPTED(EINTR, tcsetattr, fd, when, mode);
}
extern "C" int kill(pid_t pid, int sig) noexcept {
  struct sigaction action {};
  const bool stop = sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU || sig == SIGSTOP || sig == SIGCONT;
  if (pid == getpid() && !stop && sig != SIGKILL && sigaction(sig, nullptr, &action) == 0 &&
      action.sa_handler == SIG_DFL)
    return 0;
  return NEXT(kill, pid, sig);
}
