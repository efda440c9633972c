// libFuzzer target: the whole path after the open step on arbitrary bytes,
// loaded from memory, checked, scanned and listed into /dev/null: once
// plainly, and twice with the pause, once as if onto a terminal, so that
// names are shown terminal-safe, and once with Windows line ends, so that
// line feeds in names become them.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "main/run.h"

namespace {
int g_null = -1;
}  // namespace

// The pauses wait for no key: the fuzzer gives up its terminal, if it has
// one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
  if (tty >= 0) ioctl(tty, TIOCNOTTY);
  if (tty >= 0) close(tty);
  g_null = open("/dev/null", O_WRONLY);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  marvix::DebugImage image;
  if (marvix::image_from_bytes({data, size}, image) != marvix::LoadStatus::ok) return 0;
  // Passes after the first over the same image are valid: the scan rewrites
  // the name slots with the same offsets.
  for (const int pass : {0, 1, 2}) {
    marvix::Listing listing;
    listing.out.fd = g_null;
    listing.pager.pause = pass > 0;
    listing.out.is_terminal = pass == 1;
    listing.out.crlf = pass == 2;
    // A small output buffer: a fresh 2 MiB one for every input would cost
    // more than the listing, and a small one takes its overflow path too.
    marvix::dump_image(image, listing, 4096);
  }
  return 0;
}
