#include "debug_file/image.h"

#include <algorithm>
#include <cstring>

namespace marvix {

namespace {

// Room for a file of `file_size` bytes plus its zero tail: whole blocks, one
// more than the file fills.
std::size_t image_size_for(std::size_t file_size) { return (file_size / kBlockSize + 1) * kBlockSize; }

// Twice the room, up to the largest image, keeping the bytes read into the
// full block: moved by the system where it can, else copied.
bool grow(MemoryBlock& memory) {
  const std::size_t bytes = std::min(memory.size * 2, kMaxImageSize);
  if (remap_block(memory, bytes)) return true;
  MemoryBlock bigger;
  if (!allocate_block(bigger, bytes)) return false;
  std::memcpy(bigger.data, memory.data, memory.size);
  memory = std::move(bigger);
  return true;
}

// The callers have refused any file over kMaxFileSize, so the count fits.
LoadStatus finish(DebugImage& image, std::size_t file_size) {
  image.file_size = file_size;
  image.blocks = static_cast<std::uint16_t>(file_size / kBlockSize + 1);
  return LoadStatus::ok;
}

}  // namespace

LoadStatus load_image(const InputFile& file, DebugImage& image) {
  image = DebugImage{};
  // A regular file's size says at once whether it can load, and how much
  // room it needs. Anything else (a pipe, a device, a file that grows
  // while it is read) starts small, and its image grows as data arrives.
  if (file.size > kMaxFileSize) return LoadStatus::out_of_memory;
  if (!allocate_block(image.memory, image_size_for(static_cast<std::size_t>(file.size))))
    return LoadStatus::out_of_memory;

  // Read until end of file. Filling the largest image means the file has at
  // least 65535 blocks of bytes, and one that fills the 65535th block would
  // need a 65536th, which the block count cannot hold: stop there rather
  // than read an endless device to its end. The memory may be larger than
  // the largest image (whole huge pages), but no read goes past it.
  std::size_t used = 0;
  for (;;) {
    const std::size_t room = std::min(image.memory.size, kMaxImageSize);
    if (used == room) {
      if (room == kMaxImageSize) return LoadStatus::out_of_memory;
      if (!grow(image.memory)) return LoadStatus::out_of_memory;
      continue;
    }
    const std::ptrdiff_t got = read_input(file, image.data() + used, room - used);
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
