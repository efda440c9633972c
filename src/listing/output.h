// Buffered standard output for the listings. Rows are formatted straight
// into a large buffer that goes out in big writes; the first failed write
// stops all further output and is kept for the run sequence to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/platform.h"

namespace marvix {

struct Output {
  // One huge page: a 2 MiB buffer costs one page fault where 1 MiB of small
  // pages costs 256, and writes of 2 MiB are big enough for any pipe. Where
  // it cannot be had, output still goes out in batches, through a smaller
  // buffer of static storage (the run has one Output at a time).
  static constexpr std::size_t kDefaultCapacity = std::size_t{2} << 20;
  static constexpr std::size_t kFallbackCapacity = std::size_t{64} << 10;

  explicit Output(std::size_t capacity_ = kDefaultCapacity);

  MemoryBlock memory;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  std::size_t used = 0;
  int fd = kStdOut;  // -1 discards everything (counting it), for fuzzing
  bool crlf = false;  // every "\n" goes out as "\r\n"
  // Standard output is a terminal: the page is flushed before a prompt, and
  // bytes from the file are shown terminal-safe.
  bool is_terminal = false;
  std::uint64_t written = 0;             // bytes handed on to fd
  WriteStatus status = WriteStatus::ok;  // the first failed write's, ok while all is well

  bool failed() const { return status != WriteStatus::ok; }
};

// Writes out what is buffered. False once any write has failed.
bool output_flush(Output& out);

// Bytes that do not fit the buffer go straight to the descriptor.
void output_write_large(Output& out, const char* bytes, std::size_t size);

inline void output_bytes(Output& out, const char* bytes, std::size_t size) {
  if (size > out.capacity - out.used) {
    output_write_large(out, bytes, size);
    return;
  }
  std::memcpy(out.buffer + out.used, bytes, size);
  out.used += size;
}

inline void output_text(Output& out, std::string_view text) { output_bytes(out, text.data(), text.size()); }

// Bytes from the debug file shown on a terminal (see terminal_text.h).
void output_terminal_safe(Output& out, const char* bytes, std::size_t size);

// Bytes from the debug file: as they stand, unless standard output is a
// terminal.
inline void output_external(Output& out, const char* bytes, std::size_t size) {
  if (out.is_terminal) {
    output_terminal_safe(out, bytes, size);
    return;
  }
  output_bytes(out, bytes, size);
}

}  // namespace marvix
