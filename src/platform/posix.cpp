// The platform layer on POSIX systems. Calls that only Linux has sit under
// #ifdef, each beside its portable path.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

#include "platform/platform.h"

namespace marvix {

const bool kStandardOutputCrlf = false;

void setup_process() {
  // Output errors are seen as failed writes, never as a fatal signal: a
  // pipe whose reader has gone (EPIPE), and a file that has reached the
  // file-size limit (ulimit -f; EFBIG).
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // With descriptor 1 or 2 closed, the debug file or the terminal opened
  // for the pause would take its number, and the listing or a message would
  // be written into it. Park /dev/null there instead (moved into place,
  // since a closed standard input would take it first): writes to a
  // read-only descriptor fail, so a closed standard output is reported as
  // an output error, and messages to a closed standard error are dropped.
  for (int fd = kStdOut; fd <= kStdErr; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int parked = open("/dev/null", fd == kStdErr ? O_WRONLY : O_RDONLY);
      if (parked != fd && dup2(parked, fd) == fd) close(parked);
    }
  }
}

bool is_terminal(int fd) { return isatty(fd) != 0; }

bool wait_pipe_taken([[maybe_unused]] int fd) {
#ifdef FIONREAD
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return true;
  // No system tells the writer when its pipe has been emptied: look every
  // millisecond, a thousand times at most. The reader passes on what it
  // has taken a moment later (cat writes it to the terminal), so the wait
  // ends a millisecond after a look that finds the pipe empty. A pipe with
  // no reader polls as an error on its writing end (Linux), or as hung up
  // (the BSDs, macOS).
  for (int looks = 0; looks < 1000; ++looks) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0) break;
    timespec millisecond{0, 1000000};
    while (nanosleep(&millisecond, &millisecond) != 0 && errno == EINTR) continue;
    pollfd end{fd, POLLOUT, 0};
    if (poll(&end, 1, 0) == 1 && (end.revents & (POLLERR | POLLHUP)) != 0) return false;
    if (queued <= 0) break;
  }
#endif
  return true;
}

InputFile::~InputFile() {
  if (handle >= 0) close(static_cast<int>(handle));
}

namespace {
int fd_of(const InputFile& file) { return static_cast<int>(file.handle); }
}  // namespace

bool open_input(const char* path, InputFile& file) {
  // The file may be a terminal device (marvix /dev/pts/3): a session leader
  // without a terminal must not take it as its controlling terminal, which
  // would bring it hang-ups and make the pause wait on that device.
  const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  file.handle = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  if (S_ISREG(st.st_mode)) file.size = static_cast<std::uint64_t>(st.st_size);
  // A directory opens fine here but is not a file to dump.
  return !S_ISDIR(st.st_mode);
}

std::ptrdiff_t read_input(const InputFile& file, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = read(fd_of(file), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

namespace {

// A descriptor that a parent made non-blocking is full for the moment, not
// broken: wait until it takes bytes again (an interrupted wait just means
// another try). select, since some systems (macOS) cannot poll a terminal;
// standard output and error lie far below FD_SETSIZE.
void wait_writable(int fd) {
  fd_set ready{};
  FD_ZERO(&ready);
  FD_SET(fd, &ready);
  select(fd + 1, nullptr, &ready, nullptr, nullptr);
}

}  // namespace

WriteStatus write_all(int fd, const char* bytes, std::size_t size, const CodePage*) {
  while (size > 0) {
    const ssize_t done = write(fd, bytes, size);
    if (done > 0) {
      bytes += done;
      size -= static_cast<std::size_t>(done);
      continue;
    }
    // A device may take nothing and report no error: that is no progress.
    if (done == 0) return WriteStatus::failed;
    if (errno == EPIPE) return WriteStatus::reader_gone;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wait_writable(fd);
    } else if (errno != EINTR) {
      return WriteStatus::failed;
    }
  }
  return WriteStatus::ok;
}

void advise_huge_pages([[maybe_unused]] void* block, [[maybe_unused]] std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Only a large block: the C library maps it on its own, a few bytes in,
  // while a small one shares its pages with other memory. Advice from the
  // start of the block's first page covers all of its mapping and leaves it
  // whole, so that realloc can still move it without a copy.
  if (size < (std::size_t{1} << 20)) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const auto page_start = start - start % static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  madvise(reinterpret_cast<void*>(page_start), size + (start - page_start), MADV_HUGEPAGE);
#endif
}

}  // namespace marvix
