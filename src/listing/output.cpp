#include "listing/output.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "console/terminal_text.h"

namespace marvix {

namespace {

char g_fallback[Output::kFallbackCapacity];

// The first "\n" in [p, end), or end. Eight bytes at a time: where the C
// library's memchr goes a byte at a time (msvcrt), this is most of the cost
// of a listing.
const char* find_newline(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  if constexpr (std::endian::native == std::endian::little) {
    for (; end - p >= 8; p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      word ^= kOnes * '\n';  // a newline byte becomes zero
      const std::uint64_t zeros = (word - kOnes) & ~word & kHighs;
      if (zeros != 0) return p + std::countr_zero(zeros) / 8;
    }
  }
  while (p != end && *p != '\n') ++p;
  return p;
}

// Line ends are translated on their way out, a buffer at a time, so that
// formatting stays the same everywhere.
WriteStatus write_crlf(int fd, const char* bytes, std::size_t size) {
  static char translated[(1 << 20) + 2];
  const char* const end = bytes + size;
  std::size_t used = 0;
  while (bytes != end) {
    const std::size_t room = sizeof translated - 2 - used;
    const char* const stop = bytes + std::min(static_cast<std::size_t>(end - bytes), room);
    const char* const newline = find_newline(bytes, stop);
    std::memcpy(translated + used, bytes, static_cast<std::size_t>(newline - bytes));
    used += static_cast<std::size_t>(newline - bytes);
    bytes = newline;
    if (newline != stop) {
      translated[used++] = '\r';
      translated[used++] = '\n';
      ++bytes;
    }
    if (used >= sizeof translated - 2 || bytes == end) {
      const WriteStatus status = write_all(fd, translated, used);
      if (status != WriteStatus::ok) return status;
      used = 0;
    }
  }
  return WriteStatus::ok;
}

bool write_out(Output& out, const char* bytes, std::size_t size) {
  if (out.failed()) return false;
  if (out.fd < 0) {
    out.written += size;
    return true;
  }
  out.status = out.crlf ? write_crlf(out.fd, bytes, size) : write_all(out.fd, bytes, size);
  if (out.failed()) return false;
  out.written += size;
  return true;
}

}  // namespace

Output::Output(std::size_t capacity_) {
  if (allocate_block(memory, capacity_)) {
    buffer = reinterpret_cast<char*>(memory.data);
    capacity = memory.size;
  } else {
    buffer = g_fallback;
    capacity = std::min(capacity_, sizeof g_fallback);
  }
}

bool output_flush(Output& out) {
  const bool ok = write_out(out, out.buffer, out.used);
  out.used = 0;
  return ok;
}

void output_write_large(Output& out, const char* bytes, std::size_t size) {
  if (output_flush(out) && size < out.capacity) {
    std::memcpy(out.buffer, bytes, size);
    out.used = size;
    return;
  }
  write_out(out, bytes, size);
}

void output_terminal_safe(Output& out, const char* bytes, std::size_t size) {
  char shown[4096];
  for (const char* end = bytes + size; bytes != end;) {
    output_bytes(out, shown, make_terminal_safe(bytes, end, shown, sizeof shown));
  }
}

}  // namespace marvix
