// The loaded debug file and the three section tables found in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "debug_file/memory_block.h"

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
  MemoryBlock memory;         // at least size() bytes
  std::size_t file_size = 0;  // bytes that came from the file
  std::uint16_t blocks = 0;

  std::uint8_t* data() const { return memory.data; }
  std::size_t size() const { return std::size_t{blocks} * kBlockSize; }
};

enum class LoadStatus { ok, out_of_memory, read_error };

// Reads the open descriptor to its end. A regular file is sized once from
// fstat; pipes and devices are read into a mapping of the largest image.
LoadStatus load_image(int fd, DebugImage& image);
// The same image from bytes already in memory.
LoadStatus image_from_bytes(std::span<const std::uint8_t> bytes, DebugImage& image);

bool check_magic(const DebugImage& image);

// A section's entries: `records` is the offset of the first record in the
// image; record i lies at records + i * record size.
struct SectionTable {
  std::uint32_t count = 0;
  std::size_t records = 0;
};

// Positions only; the tables must not outlive the image they point into.
struct DebugTables {
  const std::uint8_t* image = nullptr;
  SectionTable files;
  SectionTable classes;
  SectionTable labels;

  const std::uint8_t* file_record(std::uint32_t i) const;
  const std::uint8_t* class_record(std::uint32_t i) const;
  const std::uint8_t* label_record(std::uint32_t i) const;
  // The NUL-terminated name whose offset a name slot holds.
  const char* name(std::uint32_t slot) const { return reinterpret_cast<const char*>(image + slot); }
};

enum class ScanStatus { ok, undefined_entry, unexpected_end };

struct ScanResult {
  ScanStatus status;
  std::size_t cursor;  // where no tag matched, for undefined_entry
};

// Walks the sections from just past the magic to "[end]", fills the tables
// and writes each record's name offset into its name slot. Counts, records
// and names are taken only from the file's own bytes, never from the zero
// tail of the last block.
ScanResult scan_sections(DebugImage& image, DebugTables& tables);

// The text shown for an undefined entry: the bytes at `cursor` up to the next
// NUL, which the zero tail guarantees.
const char* text_at(const DebugImage& image, std::size_t cursor);

}  // namespace marvix
