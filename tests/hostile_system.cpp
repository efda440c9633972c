// Loaded into the tool with LD_PRELOAD: a system at the edge of what POSIX
// allows, so that the code this kernel never needs still runs under test.
// - Every large anonymous mapping comes back 4 KiB past a 2 MiB boundary,
//   as a kernel that does not align large mappings may return it, and none
//   can be moved (mremap), as on systems other than Linux.
// - A regular file reports a size of 0, as files in /proc do.
// - Of every three calls of read, write, select and tcsetattr, the calls
//   that POSIX lets a signal interrupt, two fail with EINTR, as if a signal
//   had come (never while signals are held, when none can); one that
//   succeeds leaves errno at EINTR.
// - A write takes all but the last byte, as a short write may.
// - With HOSTILE_STDOUT_TAKES_NOTHING set, a write to standard output takes
//   nothing and reports no error, as a device may.
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>

#define NEXT(name, ...) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))(__VA_ARGS__)

extern "C" void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset) noexcept {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if ((flags & MAP_ANONYMOUS) != 0 && fd != -1) return errno = EINVAL, MAP_FAILED;  // as some systems require
  if (addr != nullptr || fd != -1 || length < kHuge / 2)
    return NEXT(mmap, addr, length, prot, flags, fd, offset);
  auto* const raw = static_cast<char*>(NEXT(mmap, nullptr, length + 2 * kHuge, prot, flags, fd, offset));
  if (raw == MAP_FAILED) return raw;
  char* const at = raw + (kHuge - reinterpret_cast<std::uintptr_t>(raw) % kHuge) + 4096;
  munmap(raw, static_cast<std::size_t>(at - raw));  // the rest past the end stays mapped, unused
  return at;
}

extern "C" void* mremap(void*, std::size_t, std::size_t, int, ...) noexcept {
  errno = ENOMEM;
  return MAP_FAILED;
}

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
extern "C" int tcsetattr(int fd, int when, const termios* mode) noexcept {
  INTERRUPTED(tcsetattr, fd, when, mode);
}
