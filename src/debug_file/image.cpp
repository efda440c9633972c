#include "debug_file/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace marvix {

namespace {

// Room for a file of `file_size` bytes plus its zero tail: whole blocks, one
// more than the file fills.
std::size_t image_size_for(std::size_t file_size) { return (file_size / kBlockSize + 1) * kBlockSize; }

// Gives the image `bytes` of room, keeping what it holds. Where realloc
// cannot grow the block in place it moves it, and for that moment may hold
// the old block and the new. Filling the image is most of a listing's page
// faults, hence the advice.
bool resize(DebugImage& image, std::size_t bytes) {
  void* const grown = std::realloc(image.memory.get(), bytes);
  if (grown == nullptr) return false;
  static_cast<void>(image.memory.release());  // realloc has taken it
  image.memory.reset(static_cast<std::uint8_t*>(grown));
  image.capacity = bytes;
  advise_huge_pages(grown, bytes);
  return true;
}

// The callers have refused any file over kMaxFileSize, so the count fits.
// The memory is whole blocks larger than the file, so the tail lies
// inside it.
LoadStatus finish(DebugImage& image, std::size_t file_size) {
  image.file_size = file_size;
  image.blocks = static_cast<std::uint16_t>(file_size / kBlockSize + 1);
  std::memset(image.data() + file_size, 0, image.size() - file_size);
  return LoadStatus::ok;
}

}  // namespace

LoadStatus load_image(const InputFile& file, DebugImage& image) {
  image = DebugImage{};
  // A regular file's size says at once whether it can load, and how much
  // room it needs. Anything else (a pipe, a device, a file that grows
  // while it is read) starts small, and its image doubles as data arrives.
  if (file.size > kMaxFileSize) return LoadStatus::out_of_memory;
  if (!resize(image, image_size_for(static_cast<std::size_t>(file.size)))) return LoadStatus::out_of_memory;

  // Read until end of file. Filling the largest image means the file has at
  // least 65535 blocks of bytes, and one that fills the 65535th block would
  // need a 65536th, which the block count cannot hold: stop there rather
  // than read an endless device to its end. The room is always whole blocks,
  // so it holds the zero tail of whatever has been read.
  std::size_t used = 0;
  for (;;) {
    if (used == image.capacity) {
      if (image.capacity == kMaxImageSize) return LoadStatus::out_of_memory;
      if (!resize(image, std::min(image.capacity * 2, kMaxImageSize))) return LoadStatus::out_of_memory;
    }
    const std::ptrdiff_t got = read_input(file, image.data() + used, image.capacity - used);
    if (got < 0) return LoadStatus::read_error;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  return finish(image, used);
}

LoadStatus image_from_bytes(std::span<const std::uint8_t> bytes, DebugImage& image) {
  image = DebugImage{};
  if (bytes.size() > kMaxFileSize) return LoadStatus::out_of_memory;
  if (!resize(image, image_size_for(bytes.size()))) return LoadStatus::out_of_memory;
  if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
  return finish(image, bytes.size());
}

}  // namespace marvix
