// The platform layer on POSIX systems. Calls that only Linux has sit under
// #ifdef, each beside its portable path.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <utility>

#include "platform/platform.h"

#if !defined(MAP_ANONYMOUS) && defined(MAP_ANON)
#define MAP_ANONYMOUS MAP_ANON
#endif

namespace marvix {

const bool kStandardOutputCrlf = false;

void setup_process() {
  // Output errors are seen as failed writes, never as a fatal signal.
  std::signal(SIGPIPE, SIG_IGN);
  // With descriptor 1 or 2 closed, the debug file would be opened on it and
  // the listing or a message written into it. Park /dev/null there instead:
  // writes to a read-only descriptor fail, so a closed standard output is
  // reported as an output error, and messages to a closed standard error
  // are dropped.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int parked = open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
      if (parked >= 0 && parked != fd) close(parked);
    }
  }
}

bool is_terminal(int fd) { return isatty(fd) != 0; }

bool same_file(int a, int b) {
  struct stat first {};
  struct stat second {};
  if (fstat(a, &first) != 0 || fstat(b, &second) != 0) return false;
  const bool stream = S_ISREG(first.st_mode) || S_ISFIFO(first.st_mode) || S_ISSOCK(first.st_mode);
  return stream && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
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
  // A directory opens fine here but is not a file to dump.
  struct stat st {};
  return !(fstat(fd, &st) == 0 && S_ISDIR(st.st_mode));
}

bool regular_file_size(const InputFile& file, std::uint64_t& size) {
  struct stat st {};
  if (fstat(fd_of(file), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

void enlarge_pipe(const InputFile& file) {
#ifdef F_SETPIPE_SZ
  // A pipe holds 64 KiB: a million-row file would take a thousand reads,
  // each a switch to the writer and back.
  struct stat st {};
  if (fstat(fd_of(file), &st) == 0 && S_ISFIFO(st.st_mode)) fcntl(fd_of(file), F_SETPIPE_SZ, 1 << 20);
#else
  (void)file;
#endif
}

std::ptrdiff_t read_input(const InputFile& file, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = read(fd_of(file), buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

namespace {

// A descriptor that a parent made non-blocking is full for the moment, not
// broken: wait until it takes bytes again. select, since some systems
// (macOS) cannot poll a terminal.
bool wait_writable(int fd) {
  if (fd >= FD_SETSIZE) return false;
  for (;;) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(fd, &ready);
    if (select(fd + 1, nullptr, &ready, nullptr, nullptr) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

WriteStatus write_all(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(fd)) continue;
    if (done < 0 && errno == EPIPE) return WriteStatus::reader_gone;
    if (done <= 0) return WriteStatus::failed;
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
  return WriteStatus::ok;
}

namespace {

#if defined(MAP_ANONYMOUS)

std::uint8_t* map_anonymous(std::size_t bytes) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_NORESERVE
  // Sized for the worst case, mostly never touched: do not count it
  // against the commit limit.
  flags |= MAP_NORESERVE;
#endif
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

void release(std::uint8_t* data, std::size_t size) { munmap(data, size); }

#ifdef MADV_HUGEPAGE

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeFrom = std::size_t{1} << 20;

// Maps one huge page more than needed, then trims to an aligned run. Where
// the address space is too tight for the extra page, an unaligned mapping
// still works, only with more page faults.
std::uint8_t* map_huge(std::size_t length) {
  std::uint8_t* raw = map_anonymous(length + kHugePage);
  if (raw == nullptr) return map_anonymous(length);
  const std::size_t head = (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
  if (head > 0) munmap(raw, head);
  munmap(raw + head + length, kHugePage - head);
  madvise(raw + head, length, MADV_HUGEPAGE);
  return raw + head;
}

std::uint8_t* map_block(std::size_t& bytes) {
  if (bytes < kHugeFrom) return map_anonymous(bytes);
  bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  return map_huge(bytes);
}

#else

std::uint8_t* map_block(std::size_t& bytes) { return map_anonymous(bytes); }

#endif

#else  // no anonymous mappings: plain zeroed allocations

std::uint8_t* map_block(std::size_t& bytes) { return static_cast<std::uint8_t*>(std::calloc(bytes, 1)); }
void release(std::uint8_t* data, std::size_t) { std::free(data); }

#endif

}  // namespace

MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept {
  if (this != &other) {
    if (data != nullptr) release(data, size);
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
  }
  return *this;
}

MemoryBlock::~MemoryBlock() {
  if (data != nullptr) release(data, size);
}

bool allocate_block(MemoryBlock& block, std::size_t bytes) {
  block = MemoryBlock{};
  if (bytes == 0) return false;
  block.data = map_block(bytes);
  block.size = block.data != nullptr ? bytes : 0;
  return block.data != nullptr;
}

}  // namespace marvix
