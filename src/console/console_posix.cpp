// The console on POSIX systems: messages on standard error, and the key
// wait on the controlling terminal.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include "console/console.h"
#include "platform/platform.h"

namespace marvix {

// A failed write drops the rest: a message that cannot be shown must not
// change the run.
void console_write(const char* bytes, std::size_t size) { write_all(kStdErr, bytes, size); }

namespace {

// The terminal, opened on the first wait and kept for the run; -1 once we
// know there is none (no controlling terminal, as under setsid or in CI).
int g_tty = -2;
termios g_saved_mode;
volatile std::sig_atomic_t g_mode_changed = 0;

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A signal that ends the run during the wait must not leave the terminal
// raw. tcsetattr and signal are async-signal-safe; the signal raised again
// is held until the handler returns, and then ends the process as it would
// have without the handler.
void restore_on_signal(int sig) {
  if (g_mode_changed != 0) tcsetattr(g_tty, TCSANOW, &g_saved_mode);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Raw mode for the length of one wait: no line editing, no echo, and no
// signal keys, so Ctrl+C is just a key that ends the wait.
struct RawMode {
  struct sigaction previous[std::size(kFatalSignals)] = {};
  bool active = false;

  RawMode() {
    if (tcgetattr(g_tty, &g_saved_mode) != 0) return;
    struct sigaction handler {};
    handler.sa_handler = restore_on_signal;
    sigemptyset(&handler.sa_mask);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
      sigaction(kFatalSignals[i], &handler, &previous[i]);
    termios raw = g_saved_mode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_mode_changed = 1;
    active = tcsetattr(g_tty, TCSANOW, &raw) == 0;
  }

  ~RawMode() {
    if (g_mode_changed != 0) {
      tcsetattr(g_tty, TCSANOW, &g_saved_mode);
      g_mode_changed = 0;
      for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        sigaction(kFatalSignals[i], &previous[i], nullptr);
    }
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};

// Reads once, retrying an interrupted read; false on end of file or error,
// so a terminal that has gone away ends the wait instead of spinning.
bool read_some(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = read(g_tty, buffer, size);
    if (got > 0) return true;
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

}  // namespace

bool console_can_wait() {
  if (g_tty == -2) g_tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  return g_tty >= 0;
}

void console_wait_key() {
  if (!console_can_wait()) return;

  RawMode raw;
  if (!raw.active) return;
  char buffer[64];
  if (!read_some(buffer, 1)) return;
  // Cursor and function keys send several bytes at once (ESC [ A). Take the
  // rest of such a burst too, so none of it ends the next wait or reaches
  // the shell after the run.
  pollfd pending{g_tty, POLLIN, 0};
  for (int bursts = 0; bursts < 4 && poll(&pending, 1, 25) > 0; ++bursts) {
    if ((pending.revents & POLLIN) == 0 || !read_some(buffer, sizeof buffer)) break;
  }
}

}  // namespace marvix
