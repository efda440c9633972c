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

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "platform/platform.h"
#include "text/terminal_text.h"
#include "text/utf16.h"

namespace marvix {

const bool kStandardOutputCrlf = true;

namespace {

// Ctrl+C and Ctrl+Break end the run with Windows' own status for them,
// never 0, so that a script does not take a cut listing for a whole one.
// (During the pause the console's handler, called first, takes Ctrl+C as a
// key.) This runs on a thread of its own while the main thread may be
// writing, so the process ends at once, without running exit handlers.
BOOL WINAPI on_interrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

void setup_process() {
  // Nothing may turn "\n" into "\r\n" a second time.
  _setmode(kStdOut, _O_BINARY);
  _setmode(kStdErr, _O_BINARY);
  SetConsoleCtrlHandler(on_interrupt, TRUE);
}

bool utf8_arguments(int argc, const wchar_t* const* argv, Arguments& arguments) {
  arguments.count = argc;
  std::size_t bytes = 0;
  for (int i = 0; i < argc; ++i) bytes += 3 * std::wcslen(argv[i]) + 1;
  arguments.values.reset(new (std::nothrow) char*[static_cast<std::size_t>(argc) + 1]);
  arguments.text.reset(new (std::nothrow) char[bytes]);
  if (arguments.values == nullptr || arguments.text == nullptr) return false;
  char* text = arguments.text.get();
  for (int i = 0; i < argc; ++i) {
    arguments.values[static_cast<std::size_t>(i)] = text;
    text += utf8_from_utf16(argv[i], std::wcslen(argv[i]), text);
    *text++ = '\0';
  }
  arguments.values[static_cast<std::size_t>(argc)] = nullptr;
  return true;
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

// Win32 does not tell the writer of a pipe how much of it is still unread
// (PeekNamedPipe wants the reading end).
// Nor whether its reader has gone: a write tells.
bool wait_pipe_taken(int) { return true; }

InputFile::~InputFile() {
  if (handle != -1) CloseHandle(handle_of(*this));
}

namespace {

// The name as Windows takes it, in UTF-16, in `name`. Where its full path
// is MAX_PATH units or longer, that full path behind "\\?\", which lifts
// the limit to 32,767 units whatever the system's long-path setting. A name
// that begins "\\?\" is taken as it stands, as Windows takes it: not
// normalized, "/" no separator. Null when the name is not UTF-8 (no file
// has such a name: opening another would list the wrong file) or no memory
// can be had.
const wchar_t* wide_path(const char* path, std::unique_ptr<wchar_t[]>& name) {
  const std::size_t size = std::strlen(path);
  name.reset(new (std::nothrow) wchar_t[size + 1]);
  if (name == nullptr) return nullptr;
  wchar_t* const typed = name.get();
  bool valid = false;
  typed[utf16_from_utf8(path, size, typed, valid)] = L'\0';
  if (!valid) return nullptr;
  if (std::wcsncmp(typed, L"\\\\?\\", 4) == 0) return typed;
  const DWORD needed = GetFullPathNameW(typed, 0, nullptr, nullptr);
  if (needed <= MAX_PATH) return typed;  // the full path, with its null, fits
  constexpr std::size_t kPrefix = 8;     // room for "\\?\UNC\"
  std::unique_ptr<wchar_t[]> full_name(new (std::nothrow) wchar_t[needed + kPrefix]);
  if (full_name == nullptr) return nullptr;
  wchar_t* const full = full_name.get();
  const DWORD length = GetFullPathNameW(typed, needed, full + kPrefix, nullptr);
  if (length == 0 || length >= needed) return nullptr;
  wchar_t* start = full + kPrefix;
  if (std::wcsncmp(start, L"\\\\.\\", 4) == 0 || std::wcsncmp(start, L"\\\\?\\", 4) == 0) {
    start[2] = L'?';  // "\\.\C:\x" or "\\?\C:\x" (from "//./C:/x", "//?/C:/x"): no share
  } else if (std::wcsncmp(start, L"\\\\", 2) == 0) {
    start -= 6;  // "\\server\share" becomes "\\?\UNC\server\share"
    std::memcpy(start, L"\\\\?\\UNC", 7 * sizeof(wchar_t));
  } else {
    start -= 4;
    std::memcpy(start, L"\\\\?\\", 4 * sizeof(wchar_t));
  }
  name = std::move(full_name);
  return start;
}

}  // namespace

bool open_input(const char* path, InputFile& file) {
  std::unique_ptr<wchar_t[]> memory;
  const wchar_t* const name = wide_path(path, memory);
  if (name == nullptr) return false;
  // Shared for reading, writing and deletion, so that a file the assembler
  // still holds open can be listed. A directory does not open without
  // FILE_FLAG_BACKUP_SEMANTICS, which is not asked for.
  const HANDLE opened =
      CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  file.handle = reinterpret_cast<std::intptr_t>(opened);
  LARGE_INTEGER bytes;
  if (GetFileType(opened) == FILE_TYPE_DISK && GetFileSizeEx(opened, &bytes))
    file.size = static_cast<std::uint64_t>(bytes.QuadPart);
  return true;
}

std::ptrdiff_t read_input(const InputFile& file, void* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (ReadFile(handle_of(file), buffer, ask, &got, nullptr)) return got;
  // A pipe whose writer has closed it reports its end as an error.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

WriteStatus write_all(int fd, const char* bytes, std::size_t size, const CodePage* code_page) {
  const HANDLE out = handle_of(fd);
  // Consoles before Windows 8 refuse a write much over 32 KiB. A console
  // decodes each write on its own, so every piece but the last ends between
  // characters.
  DWORD mode = 0;
  const bool console = GetConsoleMode(out, &mode) != 0;
  const std::size_t piece = console ? 0x8000 : 0x40000000;
  while (size > 0) {
    DWORD done = 0;
    std::size_t ask = size > piece ? piece : size;
    if (console && ask < size) ask = whole_characters(bytes, ask, code_page);
    if (!WriteFile(out, bytes, static_cast<DWORD>(ask), &done, nullptr)) {
      // The reader of a pipe has gone: the same as EPIPE on POSIX.
      const DWORD error = GetLastError();
      const bool gone =
          error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
      return gone ? WriteStatus::reader_gone : WriteStatus::failed;
    }
    if (done == 0) return WriteStatus::failed;
    bytes += done;
    size -= done;
  }
  return WriteStatus::ok;
}

// Windows gives large pages only to a process allowed to lock memory.
void advise_huge_pages(void*, std::size_t) {}

}  // namespace marvix
