#include "listing/output.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "console/terminal_text.h"

namespace marvix {

namespace {

char g_fallback[Output::kFallbackCapacity];

bool write_out(Output& out, const char* bytes, std::size_t size) {
  if (out.failed()) return false;
  if (out.fd < 0) {
    out.written += size;
    return true;
  }
  out.status = write_all(out.fd, bytes, size);
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

namespace {

// The first "\n" in [p, end), or end. Eight bytes at a time: where the C
// library's memchr goes a byte at a time (msvcrt), it costs a fifth of a
// listing with every name searched.
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

}  // namespace

void output_translated(Output& out, const char* bytes, std::size_t size) {
  const char* const end = bytes + size;
  for (const char* newline; (newline = find_newline(bytes, end)) != end; bytes = newline + 1) {
    output_bytes(out, bytes, static_cast<std::size_t>(newline - bytes));
    output_line_end(out);
  }
  output_bytes(out, bytes, static_cast<std::size_t>(end - bytes));
}

void output_external_slow(Output& out, const char* bytes, std::size_t size) {
  if (!out.is_terminal) {
    output_translated(out, bytes, size);
    return;
  }
  // On a terminal no line feed is left to translate: it shows as ^J.
  char shown[4096];
  for (const char* end = bytes + size; bytes != end;) {
    output_bytes(out, shown, make_terminal_safe(bytes, end, shown, sizeof shown));
  }
}

}  // namespace marvix
