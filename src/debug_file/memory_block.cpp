#include "debug_file/memory_block.h"

#include <sys/mman.h>

#include <utility>

namespace marvix {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeFrom = std::size_t{1} << 20;

std::uint8_t* map_anonymous(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

}  // namespace

MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept {
  if (this != &other) {
    if (data != nullptr) munmap(data, size);
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
  }
  return *this;
}

MemoryBlock::~MemoryBlock() {
  if (data != nullptr) munmap(data, size);
}

bool allocate_block(MemoryBlock& block, std::size_t bytes) {
  block = MemoryBlock{};
  if (bytes == 0) return false;
  if (bytes < kHugeFrom) {
    block.data = map_anonymous(bytes);
    block.size = bytes;
  } else {
    // Map one huge page more than needed, then trim to an aligned run.
    const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    std::uint8_t* raw = map_anonymous(length + kHugePage);
    if (raw != nullptr) {
      const std::size_t head = (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
      if (head > 0) munmap(raw, head);
      munmap(raw + head + length, kHugePage - head);
      block.data = raw + head;
      block.size = length;
      madvise(block.data, length, MADV_HUGEPAGE);
    }
  }
  if (block.data == nullptr) block.size = 0;
  return block.data != nullptr;
}

}  // namespace marvix
