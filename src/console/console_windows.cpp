// The console on Windows: the console devices "CONOUT$" for messages and
// "CONIN$" for the key wait, apart from standard output and error. Where
// there is no console (the process runs detached, or all its streams are
// files and pipes), messages are dropped and the pause does not wait.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "console/console.h"

namespace marvix {

namespace {

// Opened on first use and kept for the run; INVALID_HANDLE_VALUE once it
// is known that there is none.
HANDLE open_device(const wchar_t* name, HANDLE& handle, bool& tried) {
  if (!tried) {
    tried = true;
    handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  }
  return handle;
}

HANDLE console_out() {
  static HANDLE handle = INVALID_HANDLE_VALUE;
  static bool tried = false;
  return open_device(L"CONOUT$", handle, tried);
}

HANDLE console_in() {
  static HANDLE handle = INVALID_HANDLE_VALUE;
  static bool tried = false;
  return open_device(L"CONIN$", handle, tried);
}

// The input mode to restore, for the control handler as well, which runs
// on a thread of its own: the lock keeps a change of mode and its flag
// together.
DWORD g_saved_mode = 0;
bool g_mode_changed = false;
SRWLOCK g_mode_lock = SRWLOCK_INIT;

void set_raw_mode() {
  AcquireSRWLockExclusive(&g_mode_lock);
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

// Closing the console window, logging off, shutting down or Ctrl+Break end
// the process; the console (which may outlive it, as the shell's) gets its
// input mode back first. Returning FALSE lets the default handling go on.
BOOL WINAPI on_console_event(DWORD) {
  restore_mode();
  return FALSE;
}

// Keys that end the wait without a character of their own: the cursor,
// editing and function keys, and Escape (which some consoles give no
// character). Shift, Ctrl, Alt and Caps Lock alone do not.
bool is_special_key(WORD key) {
  return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE || key == VK_ESCAPE ||
         (key >= VK_F1 && key <= VK_F24);
}

void read_key() {
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(console_in(), &record, 1, &got) || got == 0) return;
    if (record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (key.bKeyDown && (key.uChar.UnicodeChar != 0 || is_special_key(key.wVirtualKeyCode))) return;
  }
}

}  // namespace

void console_write(const char* bytes, std::size_t size) {
  const HANDLE out = console_out();
  while (out != INVALID_HANDLE_VALUE && size > 0) {
    DWORD done = 0;
    const DWORD ask = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
    if (!WriteFile(out, bytes, ask, &done, nullptr) || done == 0) return;
    bytes += done;
    size -= done;
  }
}

bool console_is_terminal() { return console_out() != INVALID_HANDLE_VALUE; }

bool console_can_wait() {
  DWORD mode = 0;
  return console_in() != INVALID_HANDLE_VALUE && GetConsoleMode(console_in(), &mode);
}

void console_pause(std::string_view prompt) {
  if (!console_can_wait() || !GetConsoleMode(console_in(), &g_saved_mode)) {
    console_write(prompt.data(), prompt.size());
    return;
  }
  // The mode changes before the prompt, so that no key typed after it is
  // echoed.
  SetConsoleCtrlHandler(on_console_event, TRUE);
  set_raw_mode();
  console_write(prompt.data(), prompt.size());
  read_key();
  restore_mode();
  SetConsoleCtrlHandler(on_console_event, FALSE);
}

}  // namespace marvix
