#include "listing/output.h"

#include <unistd.h>

#include <cerrno>

namespace marvix {

namespace {

bool write_out(Output& out, const char* bytes, std::size_t size) {
  if (out.error != 0) return false;
  if (out.fd < 0) {
    out.written += size;
    return true;
  }
  while (size > 0) {
    const ssize_t done = write(out.fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      out.error = done < 0 ? errno : EIO;
      return false;
    }
    bytes += done;
    size -= static_cast<std::size_t>(done);
    out.written += static_cast<std::uint64_t>(done);
  }
  return true;
}

}  // namespace

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

}  // namespace marvix
