// The loaded debug file: the whole file in memory, in whole blocks, with a
// zero tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/platform.h"

namespace marvix {

// The file is held in 1024-byte blocks counted in 16 bits, so the image is at
// most 65535 blocks. A file always gets one block more than it fills (a
// 1024-byte file takes two), which leaves 1 to 1024 zero bytes after its end:
// every string that starts inside the image is NUL-terminated inside it.
inline constexpr std::size_t kBlockSize = 1024;
inline constexpr std::size_t kMaxBlocks = 0xFFFF;
inline constexpr std::size_t kMaxImageSize = kMaxBlocks * kBlockSize;  // 67,107,840
inline constexpr std::size_t kMaxFileSize = kMaxImageSize - 1;         // 67,107,839

// Owns the bytes.
struct DebugImage {
  std::unique_ptr<std::uint8_t, Free> memory;
  std::size_t capacity = 0;   // bytes of memory: at least size(), once loaded
  std::size_t file_size = 0;  // bytes that came from the file
  std::uint16_t blocks = 0;

  std::uint8_t* data() { return memory.get(); }
  const std::uint8_t* data() const { return memory.get(); }
  std::size_t size() const { return std::size_t{blocks} * kBlockSize; }
};

enum class LoadStatus { ok, out_of_memory, read_error };

// Reads the open file to its end.
LoadStatus load_image(const InputFile& file, DebugImage& image);
// The same image from bytes already in memory.
LoadStatus image_from_bytes(std::span<const std::uint8_t> bytes, DebugImage& image);

}  // namespace marvix
