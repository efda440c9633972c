// Buffered standard output for the listings. Rows are formatted straight
// into a large buffer that goes out in big writes; the first failed write
// stops all further output and is kept for the run sequence to report.
// Standard output is a text stream: every line feed goes out as the
// system's line end, which is written here as the text is formatted, so no
// second pass over the buffer is needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace marvix {

struct CodePage;

struct Output {
  // Large enough that a listing of a hundred megabytes goes out in a few
  // hundred writes, small enough to stay in the processor's cache and to
  // cost few page faults: 2 MiB was no faster, and a tenth-size file took
  // a fifth longer.
  static constexpr std::size_t kBufferSize = std::size_t{256} << 10;

  // Allocated before the listing; until then every write goes straight out.
  std::unique_ptr<char, Free> buffer;
  std::size_t capacity = 0;  // the buffer's size
  std::size_t used = 0;
  int fd = kStdOut;
  bool crlf = kStandardOutputCrlf;       // the line end is "\r\n", not "\n"
  bool is_terminal = false;              // bytes from the file are then shown terminal-safe
  const CodePage* code_page = nullptr;   // on a terminal, the code page it shows bytes through
  WriteStatus status = WriteStatus::ok;  // the first failed write's, ok while all is well

  bool failed() const { return status != WriteStatus::ok; }
};

// Writes out what is buffered. False once any write has failed.
bool output_flush(Output& out);

// Bytes that do not fit the buffer go straight to the descriptor.
void output_write_large(Output& out, const char* bytes, std::size_t size);

inline void output_bytes(Output& out, const char* bytes, std::size_t size) {
  if (size > out.capacity - out.used) return output_write_large(out, bytes, size);
  std::memcpy(out.buffer.get() + out.used, bytes, size);
  out.used += size;
}

inline void output_line_end(Output& out) {
  if (out.crlf) return output_bytes(out, "\r\n", 2);
  output_bytes(out, "\n", 1);
}

// Bytes with line feeds among them, each written as the line end.
void output_translated(Output& out, const char* bytes, std::size_t size);

// The tool's own text, whose line feeds are line ends. (For a literal, the
// compiler settles the search at build time.)
inline void output_text(Output& out, std::string_view text) {
  if (out.crlf && std::memchr(text.data(), '\n', text.size()) != nullptr)
    return output_translated(out, text.data(), text.size());
  output_bytes(out, text.data(), text.size());
}

// Bytes from the debug file on a terminal (see terminal_text.h), or where
// a line feed among them is to be translated: out of line.
void output_external_slow(Output& out, const char* bytes, std::size_t size);

// Bytes from the debug file: as they stand, unless standard output is a
// terminal. A line feed in a name is a line feed of the text stream like
// any other, so where the line end is "\r\n" it becomes that too.
inline void output_external(Output& out, const char* bytes, std::size_t size) {
  if (out.is_terminal || out.crlf) return output_external_slow(out, bytes, size);
  output_bytes(out, bytes, size);
}

}  // namespace marvix
