// Large zero-filled memory straight from the kernel, for the image, the
// output buffer and the class-path cache.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvix {

// Pages are only backed once touched, so a block may be sized for the worst
// case. Faulting memory in 4 KiB at a time costs more than formatting a whole
// listing, so a block of 1 MiB or more is aligned to 2 MiB, sized in whole
// 2 MiB units and advised for huge pages (advice only: where the kernel
// refuses, nothing else changes). Smaller blocks keep small pages, since a
// huge page is zeroed whole however little of it is used.
struct MemoryBlock {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;  // at least what was asked for

  MemoryBlock() = default;
  MemoryBlock(MemoryBlock&& other) noexcept;
  MemoryBlock& operator=(MemoryBlock&& other) noexcept;
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;
  ~MemoryBlock();
};

// False when the memory cannot be had; the block is then left empty.
bool allocate_block(MemoryBlock& block, std::size_t bytes);

}  // namespace marvix
