// The operating system, for everything but the console device: the debug
// file, writes to a descriptor and process setup.
// Plain functions and status values; one implementation per system
// (posix.cpp, windows.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace marvix {

// Standard output and standard error, numbered as the C runtime numbers
// them on every system.
inline constexpr int kStdOut = 1;
inline constexpr int kStdErr = 2;

// Standard output is a text stream: where the system's line end is "\r\n"
// (Windows), every "\n" of the listing reaches the file or pipe as that.
extern const bool kStandardOutputCrlf;

// Process setup, before anything is opened: a write to a pipe whose reader
// has gone, or past the file-size limit, fails instead of ending the
// process, and a closed standard output or error is occupied, so that no
// file opened later takes its number.
void setup_process();

bool is_terminal(int fd);

// Where `fd` is a pipe, waits until its reader has taken everything in it
// and had a moment to pass it on, or about a second has passed, so that a
// reader that does not read cannot hold the run. Returns at once for
// anything else. Only where the system tells the writer how much its pipe
// holds (Linux does) does it wait longer than a millisecond. False when
// the reader has closed the pipe (| head -c 100), though nothing written
// has failed yet: what is still in it will never be read.
bool wait_pipe_taken(int fd);

// The debug file, open from the open step to the end of loading.
struct InputFile {
  std::intptr_t handle = -1;  // the system's descriptor or handle; -1 when not open
  std::uint64_t size = 0;     // known before reading: a regular file's size, else 0

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
};

// Opens for reading as raw bytes, shared with other readers and writers.
// False when the file cannot be opened or is a directory; devices and
// pipes open like files.
bool open_input(const char* path, InputFile& file);

// Reads up to `size` bytes: the count read, 0 at end of file, -1 on error.
// An interrupted read is retried.
std::ptrdiff_t read_input(const InputFile& file, void* buffer, std::size_t size);

enum class WriteStatus {
  ok,
  reader_gone,  // a pipe whose reader has closed it: not worth a message
  failed,
};

struct CodePage;

// Writes all bytes, continuing partial and interrupted writes. Where a
// console takes them in pieces (Windows), each piece ends between
// characters as `code_page` forms them (null: UTF-8); elsewhere the bytes
// go as they are, and `code_page` is not used.
WriteStatus write_all(int fd, const char* bytes, std::size_t size, const CodePage* code_page);

// Advice for a large block just allocated or grown: where the system backs
// memory with huge pages only when asked (Linux with transparent huge pages
// set to madvise, the default of many distributions), filling the block
// then takes one page fault for each 2 MiB rather than for each 4 KiB.
// Nothing else changes, and where the advice is not taken nothing does.
void advise_huge_pages(void* block, std::size_t size);

// Memory from the C library's allocator (malloc, realloc) is released with
// std::free.
struct Free {
  void operator()(void* memory) const { std::free(memory); }
};

// Windows only: the arguments, which Windows hands over as UTF-16, in UTF-8
// (see text/utf16.h), with a null after the last. False when the memory cannot
// be had.
struct Arguments {
  std::unique_ptr<char*[]> values;
  std::unique_ptr<char[]> text;
  int count = 0;
};
bool utf8_arguments(int argc, const wchar_t* const* argv, Arguments& arguments);

}  // namespace marvix
