// The operating system, for everything but the console device: the debug
// file, writes to a descriptor, large memory blocks and process setup.
// Plain functions and status values; one implementation per system
// (posix.cpp, windows.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace marvix {

// Standard output and standard error, numbered as the C runtime numbers
// them on every system.
inline constexpr int kStdOut = 1;
inline constexpr int kStdErr = 2;

// Standard output is a text stream: where the system's line end is "\r\n"
// (Windows), every "\n" of the listing reaches the file or pipe as that.
extern const bool kStandardOutputCrlf;

// Process setup, before anything is opened: a write to a pipe whose reader
// has gone fails instead of ending the process, and a closed standard
// output or error is occupied, so that no file opened later takes its
// number.
void setup_process();

bool is_terminal(int fd);

// The debug file, open from the open step to the end of loading.
struct InputFile {
  std::intptr_t handle = -1;  // the system's descriptor or handle; -1 when not open
  std::uint64_t size = 0;     // known before reading: a regular file's size, else 0

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
};

// Opens for reading as raw bytes, shared with other readers and writers,
// and readies the file to be read whole: a pipe is asked for a larger
// buffer, so that a large file arrives in fewer reads. False when the file
// cannot be opened or is a directory; devices and pipes open like files.
bool open_input(const char* path, InputFile& file);

// Reads up to `size` bytes: the count read, 0 at end of file, -1 on error.
// An interrupted read is retried.
std::ptrdiff_t read_input(const InputFile& file, void* buffer, std::size_t size);

enum class WriteStatus {
  ok,
  reader_gone,  // a pipe whose reader has closed it: not worth a message
  failed,
};

// Writes all bytes, continuing partial and interrupted writes.
WriteStatus write_all(int fd, const char* bytes, std::size_t size);

// Zero-filled memory straight from the system, for the large blocks: the
// image, the output buffer and the class-path cache. Pages are only backed
// once touched. Faulting in 4 KiB pages costs more than formatting a
// listing, so on POSIX systems a block of 1 MiB or more is made whole 2 MiB
// pages, on a 2 MiB boundary, and advised for huge pages where the system
// has them (the padding is address space only, never touched).
void release_block(std::uint8_t* data, std::size_t size);

struct MemoryBlock {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;  // as allocated: at least the bytes asked for

  MemoryBlock() = default;
  MemoryBlock(MemoryBlock&& other) noexcept { *this = std::move(other); }
  // The block held before goes to `other`, which releases it.
  MemoryBlock& operator=(MemoryBlock&& other) noexcept {
    std::swap(data, other.data);
    std::swap(size, other.size);
    return *this;
  }
  ~MemoryBlock() {
    if (data != nullptr) release_block(data, size);
  }
};

// False when the memory cannot be had; the block is then left empty. The
// block may be larger than asked for (whole huge pages): `size` says how
// large.
bool allocate_block(MemoryBlock& block, std::size_t bytes);

// Grows a block to at least `bytes`, keeping its bytes, where the system
// can move its pages instead of copying them (Linux), and where the block
// is whole huge pages already: a smaller one's pages would stay small, so
// it is better copied into a new block. False otherwise, and when the
// memory cannot be had; the block is then unchanged.
bool remap_block(MemoryBlock& block, std::size_t bytes);

// Windows only: the arguments, which Windows hands over as UTF-16, in UTF-8
// (see utf16.h), with a null after the last. False when the memory cannot
// be had.
struct Arguments {
  std::unique_ptr<char*[]> values;
  std::unique_ptr<char[]> text;
  int count = 0;
};
bool utf8_arguments(int argc, const wchar_t* const* argv, Arguments& arguments);

}  // namespace marvix
