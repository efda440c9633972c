#include "listing/output.h"

#include <algorithm>
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

void output_translated(Output& out, const char* bytes, std::size_t size) {
  const char* const end = bytes + size;
  for (;;) {
    const auto* newline = static_cast<const char*>(std::memchr(bytes, '\n', static_cast<std::size_t>(end - bytes)));
    if (newline == nullptr) break;
    output_bytes(out, bytes, static_cast<std::size_t>(newline - bytes));
    output_line_end(out);
    bytes = newline + 1;
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
