#include "listing/output.h"

namespace marvix {

namespace {

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
