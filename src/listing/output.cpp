#include "listing/output.h"

#include "text/terminal_text.h"

namespace marvix {

namespace {

bool write_out(Output& out, const char* bytes, std::size_t size) {
  if (out.failed()) return false;
  out.status = write_all(out.fd, bytes, size, out.code_page);
  return !out.failed();
}

}  // namespace

bool output_flush(Output& out) {
  const bool ok = write_out(out, out.buffer.get(), out.used);
  out.used = 0;
  return ok;
}

void output_write_large(Output& out, const char* bytes, std::size_t size) {
  if (output_flush(out) && size < out.capacity) {
    std::memcpy(out.buffer.get(), bytes, size);
    out.used = size;
    return;
  }
  write_out(out, bytes, size);
}

void output_translated(Output& out, const char* bytes, std::size_t size) {
  for (const void* newline; (newline = std::memchr(bytes, '\n', size)) != nullptr;) {
    const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - bytes);
    output_bytes(out, bytes, length);
    output_line_end(out);
    bytes += length + 1;
    size -= length + 1;
  }
  output_bytes(out, bytes, size);
}

void output_external_slow(Output& out, const char* bytes, std::size_t size) {
  if (!out.is_terminal) return output_translated(out, bytes, size);
  // On a terminal no line feed is left to translate: it shows as ^J.
  char shown[kShownPiece];
  for (const char* end = bytes + size; bytes != end;) {
    output_bytes(out, shown, make_terminal_safe(bytes, end, shown, sizeof shown, out.code_page));
  }
}

}  // namespace marvix
