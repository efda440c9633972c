// libFuzzer target: the whole path after the open step on arbitrary bytes,
// loaded from memory, checked, scanned and listed into a sink that discards
// the output: once plainly, and twice with the pause (no key is waited
// for), once as if onto a terminal, so that names are shown terminal-safe,
// and once with Windows line ends, so that line feeds in names become them.
#include <cstddef>
#include <cstdint>

#include "main/run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  marvix::DebugImage image;
  if (marvix::image_from_bytes({data, size}, image) != marvix::LoadStatus::ok) return 0;
  // Passes after the first over the same image are valid: the scan rewrites the name
  // slots with the same offsets.
  for (const int pass : {0, 1, 2}) {
    // A small buffer: allocating the full-size one per input would dominate.
    marvix::Listing listing{marvix::Output(4096)};
    listing.out.fd = -1;
    listing.pager.pause = pass > 0;
    listing.out.is_terminal = pass == 1;
    listing.out.crlf = pass == 2;
    marvix::dump_image(image, listing);
  }
  return 0;
}
