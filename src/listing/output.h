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
  // pages costs 256, and writes of 2 MiB are big enough for any pipe.
  static constexpr std::size_t kDefaultCapacity = std::size_t{2} << 20;

  explicit Output(std::size_t capacity_ = kDefaultCapacity) {
    allocate_block(memory, capacity_);
    buffer = reinterpret_cast<char*>(memory.data);
    capacity = memory.size;
  }

  MemoryBlock memory;
  char* buffer = nullptr;
  std::size_t capacity = 0;  // 0 when the buffer could not be had: all goes straight out
  std::size_t used = 0;
  int fd = kStdOut;  // -1 discards everything (counting it), for fuzzing
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

}  // namespace marvix
