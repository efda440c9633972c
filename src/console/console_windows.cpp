// The console on Windows: the console devices "CONOUT$" for messages and
// "CONIN$" for the key wait, apart from standard output and error. Where
// there is no console (the process runs detached), messages are dropped and
// the pause does not wait.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>

#include "console/console.h"
#include "text/terminal_text.h"
#include "text/utf16.h"
#include "text/utf8.h"

namespace marvix {

namespace {

// The devices, opened on first use and kept for the run;
// INVALID_HANDLE_VALUE where the process has no console.
HANDLE open_device(const wchar_t* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

HANDLE console_out() {
  static const HANDLE handle = open_device(L"CONOUT$");
  return handle;
}

HANDLE console_in() {
  static const HANDLE handle = open_device(L"CONIN$");
  return handle;
}

// The input mode to restore, for the control handler as well, which runs
// on a thread of its own: the lock keeps a change of mode and its flag
// together. The flag is also how the handler knows that a wait is on.
DWORD g_saved_mode = 0;
bool g_mode_changed = false;
SRWLOCK g_mode_lock = SRWLOCK_INIT;
// Set by the control handler to end the wait; null where it cannot be had.
HANDLE g_wake = nullptr;

void set_raw_mode() {
  AcquireSRWLockExclusive(&g_mode_lock);
  if (g_wake != nullptr) ResetEvent(g_wake);
  // No line input, no echo, and no processed input, so that Ctrl+C is a key
  // like any other.
  SetConsoleMode(console_in(), g_saved_mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                                                  ENABLE_PROCESSED_INPUT));
  g_mode_changed = true;
  ReleaseSRWLockExclusive(&g_mode_lock);
}

void restore_mode() {
  AcquireSRWLockExclusive(&g_mode_lock);
  if (g_mode_changed) SetConsoleMode(console_in(), g_saved_mode);
  g_mode_changed = false;
  ReleaseSRWLockExclusive(&g_mode_lock);
}

// During the wait, Ctrl+C is a key like any other; a console that delivers
// it as a control event even with processed input off (Wine's does) has it
// end the wait here. Closing the console window, logging off, shutting down
// or Ctrl+Break end the process; the console (which may outlive it, as the
// shell's) gets its input mode back first. Returning FALSE passes the event
// on to the next handler.
BOOL WINAPI on_console_event(DWORD event) {
  AcquireSRWLockExclusive(&g_mode_lock);
  const bool woken = event == CTRL_C_EVENT && g_mode_changed && g_wake != nullptr && SetEvent(g_wake);
  ReleaseSRWLockExclusive(&g_mode_lock);
  if (woken) return TRUE;
  restore_mode();
  return FALSE;
}

// Keys that yield neither a character nor a code: Shift, Ctrl, Alt (also
// as left and right keys), Pause, Caps Lock, Print Screen, the Windows and
// menu keys, Num Lock, Scroll Lock, and the browser, volume and media keys.
// Any other key-down ends the wait, the ones the console reports with no
// character too: the cursor, editing and function keys, and Ctrl+2
// (Ctrl+@), whose character is NUL.
bool yields_nothing(WORD key) {
  return (key >= VK_SHIFT && key <= VK_CAPITAL) || key == VK_SNAPSHOT || (key >= VK_LWIN && key <= VK_APPS) ||
         key == VK_NUMLOCK || key == VK_SCROLL || (key >= VK_LSHIFT && key <= VK_LAUNCH_APP2);
}

void read_key() {
  const HANDLE handles[] = {console_in(), g_wake};
  for (;;) {
    // Ctrl+C as an event ends the wait; a failed wait does too, as the
    // failed read below would.
    if (WaitForMultipleObjects(g_wake != nullptr ? 2 : 1, handles, FALSE, INFINITE) != WAIT_OBJECT_0) return;
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(console_in(), &record, 1, &got) || got == 0) return;
    if (record.EventType != KEY_EVENT) continue;
    if (record.Event.KeyEvent.bKeyDown && !yields_nothing(record.Event.KeyEvent.wVirtualKeyCode)) return;
  }
}

// UTF-16 units, or bytes that the console decodes through its code page
// as it decodes those of `type`.
BOOL write_console(const HANDLE out, const wchar_t* text, DWORD count, DWORD* done) {
  return WriteConsoleW(out, text, count, done, nullptr);
}

BOOL write_console(const HANDLE out, const char* text, DWORD count, DWORD* done) {
  return WriteConsoleA(out, text, count, done, nullptr);
}

// Writes in pieces of at most 32 KiB, which every console takes (those
// before Windows 8 refuse much larger writes).
template <typename Unit>
void write_pieces(const HANDLE out, const Unit* text, std::size_t count) {
  constexpr std::size_t kPiece = 0x8000 / sizeof(Unit);
  while (count > 0) {
    DWORD done = 0;
    if (!write_console(out, text, static_cast<DWORD>(count > kPiece ? kPiece : count), &done) || done == 0)
      return;
    text += done;
    count -= done;
  }
}

// UTF-8 as UTF-16, which a console screen takes whatever its code page, so
// that a name shows as typed in any script. A sequence cut at the end of
// one write is kept for the next.
void write_utf16(const HANDLE out, const char* bytes, std::size_t size) {
  static char pending[4];
  static std::size_t pending_size = 0;
  char text[8192];
  wchar_t wide[sizeof text];
  while (size > 0) {
    std::size_t length = pending_size;
    std::memcpy(text, pending, pending_size);
    const std::size_t taken = size < sizeof text - length ? size : sizeof text - length;
    std::memcpy(text + length, bytes, taken);
    length += taken;
    bytes += taken;
    size -= taken;
    pending_size = utf8_incomplete_tail(text, length);
    length -= pending_size;
    std::memcpy(pending, text + length, pending_size);
    bool valid = false;
    const std::size_t units = utf16_from_utf8(text, length, wide, valid);
    write_pieces(out, wide, units);
  }
}

// A byte is a control where the console's code page decodes it to one, as
// the console decodes it: 1252's five unassigned bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) are C1 controls, and 20127 (US-ASCII) drops the top bit, so
// that 0x9B is ESC. A lead byte alone decodes to no character. False for
// UTF-8 and the other code pages of longer characters.
bool read_code_page(UINT number, CodePage& table) {
  CPINFO info;
  if (number == 0 || !GetCPInfo(number, &info) || info.MaxCharSize > 2) return false;
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char text = static_cast<char>(byte);
    wchar_t c = 0;
    CodePageByte kind = CodePageByte::shown;
    if (IsDBCSLeadByteEx(number, static_cast<BYTE>(byte))) {
      kind = CodePageByte::lead;
    } else if (MultiByteToWideChar(number, 0, &text, 1, &c, 1) == 1 && is_control_code(c)) {
      kind = CodePageByte::control;
    }
    table.bytes[byte] = kind;
  }
  return true;
}

}  // namespace

const CodePage* console_code_page() {
  static CodePage table;
  static const bool read = read_code_page(GetConsoleOutputCP(), table);
  return read ? &table : nullptr;
}

void console_write_file_text(const char* bytes, std::size_t size) {
  const CodePage* const code_page = console_code_page();
  if (code_page == nullptr) return console_write_external(bytes, size);
  if (console_out() == INVALID_HANDLE_VALUE) return;
  char shown[kShownPiece];
  for (const char* end = bytes + size; bytes != end;)
    write_pieces(console_out(), shown, make_terminal_safe(bytes, end, shown, sizeof shown, code_page));
}

void console_print(std::string_view text) {
  if (console_out() != INVALID_HANDLE_VALUE) write_utf16(console_out(), text.data(), text.size());
}

bool console_is_terminal() { return console_out() != INVALID_HANDLE_VALUE; }

// A console whose input mode cannot be read is not one to wait on: its
// mode could not be put back afterwards.
bool console_can_wait() {
  DWORD mode = 0;
  return console_in() != INVALID_HANDLE_VALUE && GetConsoleMode(console_in(), &mode) != 0;
}

void console_pause(std::string_view prompt) {
  // The mode is changed, and later restored, only once it has been read: a
  // mode restored from nothing would leave the console with no echo and no
  // line input.
  if (!GetConsoleMode(console_in(), &g_saved_mode)) return console_print(prompt);
  // The mode changes before the prompt, so that no key typed after it is
  // echoed.
  if (g_wake == nullptr) g_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_event, TRUE);
  set_raw_mode();
  // Keys typed before the prompt (during the listing, or ahead of it) are
  // not the answer to it.
  FlushConsoleInputBuffer(console_in());
  console_print(prompt);
  read_key();
  restore_mode();
  SetConsoleCtrlHandler(on_console_event, FALSE);
}

}  // namespace marvix
