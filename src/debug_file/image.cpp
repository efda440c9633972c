#include "debug_file/image.h"

#include <cstring>
#include <utility>

namespace marvix {

namespace {

// Room for a file of `file_size` bytes plus its zero tail: whole blocks, one
// more than the file fills.
std::size_t image_size_for(std::size_t file_size) { return (file_size / kBlockSize + 1) * kBlockSize; }

// The callers have refused any file over kMaxFileSize, so the count fits.
LoadStatus finish(DebugImage& image, std::size_t file_size) {
  image.file_size = file_size;
  image.blocks = static_cast<std::uint16_t>(file_size / kBlockSize + 1);
  return LoadStatus::ok;
}

}  // namespace

LoadStatus load_image(const InputFile& file, DebugImage& image) {
  image = DebugImage{};
  // A regular file is sized once; anything else (a pipe, a device, or a
  // file that grows while it is read) may need the largest image.
  std::size_t capacity = kMaxImageSize;
  std::uint64_t size = 0;
  if (regular_file_size(file, size)) {
    // Its size already says whether it can load: refuse before reading.
    if (size > kMaxFileSize) return LoadStatus::out_of_memory;
    capacity = image_size_for(static_cast<std::size_t>(size));
  }
  if (!allocate_block(image.memory, capacity)) return LoadStatus::out_of_memory;
  enlarge_pipe(file);

  // Read until end of file. Filling the largest image means the file has at
  // least 65535 blocks of bytes, and one that fills the 65535th block would
  // need a 65536th, which the block count cannot hold: stop there rather
  // than read an endless device to its end.
  std::size_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (capacity == kMaxImageSize) return LoadStatus::out_of_memory;
      // A regular file that grows while it is read (or sizes itself 0, as
      // files in /proc do): move what was read into the largest image.
      DebugImage bigger;
      if (!allocate_block(bigger.memory, kMaxImageSize)) return LoadStatus::out_of_memory;
      std::memcpy(bigger.data(), image.data(), used);
      image = std::move(bigger);
      capacity = kMaxImageSize;
    }
    const std::ptrdiff_t got = read_input(file, image.data() + used, capacity - used);
    if (got < 0) return LoadStatus::read_error;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  return finish(image, used);
}

LoadStatus image_from_bytes(std::span<const std::uint8_t> bytes, DebugImage& image) {
  image = DebugImage{};
  if (bytes.size() > kMaxFileSize) return LoadStatus::out_of_memory;
  if (!allocate_block(image.memory, image_size_for(bytes.size()))) return LoadStatus::out_of_memory;
  if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
  return finish(image, bytes.size());
}

}  // namespace marvix
