// The platform layer on Windows. Standard output and error keep the C
// runtime's numbers (1 and 2) so that the rest of the tool is the same on
// every system; writes go to the handle behind the number, with no text
// mode in between (the listing does its own line ends).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>

#include <utility>

#include "platform/platform.h"

namespace marvix {

const bool kStandardOutputCrlf = true;

void setup_process() {
  // Nothing may turn "\n" into "\r\n" a second time.
  _setmode(kStdOut, _O_BINARY);
  _setmode(kStdErr, _O_BINARY);
}

namespace {

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

HANDLE handle_of(const InputFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

}  // namespace

// A console, not merely a character device: the C runtime's _isatty also
// says yes for NUL.
bool is_terminal(int fd) {
  DWORD mode = 0;
  return GetConsoleMode(handle_of(fd), &mode) != 0;
}

InputFile::~InputFile() {
  if (handle != -1) CloseHandle(handle_of(*this));
}

bool open_input(const char* path, InputFile& file) {
  // Shared for reading, writing and deletion, so that a file the assembler
  // still holds open can be listed. A directory does not open without
  // FILE_FLAG_BACKUP_SEMANTICS, which is not asked for.
  const HANDLE opened = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                    nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  file.handle = reinterpret_cast<std::intptr_t>(opened);
  return true;
}

bool regular_file_size(const InputFile& file, std::uint64_t& size) {
  LARGE_INTEGER bytes;
  if (GetFileType(handle_of(file)) != FILE_TYPE_DISK || !GetFileSizeEx(handle_of(file), &bytes) ||
      bytes.QuadPart < 0)
    return false;
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return true;
}

void enlarge_pipe(const InputFile&) {}

std::ptrdiff_t read_input(const InputFile& file, void* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (ReadFile(handle_of(file), buffer, ask, &got, nullptr)) return got;
  // A pipe whose writer has closed it reports its end as an error.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

WriteStatus write_all(int fd, const char* bytes, std::size_t size) {
  const HANDLE out = handle_of(fd);
  while (size > 0) {
    DWORD done = 0;
    const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!WriteFile(out, bytes, ask, &done, nullptr)) {
      // The reader of a pipe has gone: the same as EPIPE on POSIX.
      const DWORD error = GetLastError();
      const bool gone = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
      return gone ? WriteStatus::reader_gone : WriteStatus::failed;
    }
    if (done == 0) return WriteStatus::failed;
    bytes += done;
    size -= done;
  }
  return WriteStatus::ok;
}

// Committed memory is zero-filled and only backed once touched.
MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept {
  if (this != &other) {
    if (data != nullptr) VirtualFree(data, 0, MEM_RELEASE);
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
  }
  return *this;
}

MemoryBlock::~MemoryBlock() {
  if (data != nullptr) VirtualFree(data, 0, MEM_RELEASE);
}

bool allocate_block(MemoryBlock& block, std::size_t bytes) {
  block = MemoryBlock{};
  if (bytes == 0) return false;
  block.data = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  block.size = block.data != nullptr ? bytes : 0;
  return block.data != nullptr;
}

}  // namespace marvix

namespace marvix {

// Disk files only, named by their volume and file index. Two handles on one
// pipe are not told apart (that takes CompareObjectHandles, which only
// Windows 10 and later have): a pipe is never the same file here.
bool same_file(int a, int b) {
  const HANDLE first = handle_of(a);
  const HANDLE second = handle_of(b);
  BY_HANDLE_FILE_INFORMATION one{};
  BY_HANDLE_FILE_INFORMATION two{};
  if (GetFileType(first) != FILE_TYPE_DISK || GetFileType(second) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(first, &one) || !GetFileInformationByHandle(second, &two))
    return false;
  return one.dwVolumeSerialNumber == two.dwVolumeSerialNumber && one.nFileIndexHigh == two.nFileIndexHigh &&
         one.nFileIndexLow == two.nFileIndexLow;
}

}  // namespace marvix
