// Loaded into the tool with LD_PRELOAD: every large anonymous mapping comes
// back 4 KiB past a 2 MiB boundary, as a kernel that does not align large
// mappings (or an unlucky address space) may return it, so that the code
// that aligns blocks for huge pages runs where this kernel would not need it.
#include <dlfcn.h>
#include <sys/mman.h>

#include <cstdint>

extern "C" void* mmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset) noexcept {
  using Mmap = void* (*)(void*, std::size_t, int, int, int, off_t);
  const auto next = reinterpret_cast<Mmap>(dlsym(RTLD_NEXT, "mmap"));
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (addr != nullptr || fd != -1 || length < kHuge / 2) return next(addr, length, prot, flags, fd, offset);
  auto* const raw = static_cast<char*>(next(nullptr, length + 2 * kHuge, prot, flags, fd, offset));
  if (raw == MAP_FAILED) return raw;
  char* const at = raw + (kHuge - reinterpret_cast<std::uintptr_t>(raw) % kHuge) + 4096;
  munmap(raw, static_cast<std::size_t>(at - raw));  // the rest past the end stays mapped, unused
  return at;
}
