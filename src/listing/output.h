// Buffered standard output for the listings. Rows are formatted straight
// into a large buffer that goes out in big writes; the first failed write
// stops all further output and is kept for the run sequence to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace marvix {

struct Output {
  static constexpr std::size_t kDefaultCapacity = 1 << 20;

  explicit Output(std::size_t capacity_ = kDefaultCapacity)
      : capacity(capacity_), buffer(new char[capacity_]) {}

  std::size_t capacity;
  int fd = 1;  // -1 discards everything (counting it), for fuzzing
  bool is_terminal = false;
  std::unique_ptr<char[]> buffer;
  std::size_t used = 0;
  std::uint64_t written = 0;  // bytes handed on to fd
  int error = 0;              // errno of the first failed write, 0 while all is well
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
  std::memcpy(out.buffer.get() + out.used, bytes, size);
  out.used += size;
}

inline void output_text(Output& out, std::string_view text) { output_bytes(out, text.data(), text.size()); }

}  // namespace marvix
