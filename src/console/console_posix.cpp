// The console on POSIX systems: messages on standard error, and the key
// wait on the controlling terminal.
//
// During the wait the terminal is raw: no line editing, no echo, and no
// signal keys, so Ctrl+C is just a key that ends the wait. Whatever happens
// to the process meanwhile, the terminal must get its mode back:
// - a signal that ends the process restores the mode first, and then ends
//   the process as it would have without the handler;
// - SIGTSTP restores the mode and then stops, and SIGCONT applies raw mode
//   again while the wait goes on, so one key still ends the pause after fg;
//   where the kernel discards the stop (an orphaned process group), raw
//   mode returns at once;
// - a signal that the process inherited as ignored (nohup, background jobs
//   of a non-interactive shell) stays ignored;
// - a process in the background never touches the mode: the terminal then
//   belongs to the foreground job, and tcsetattr would stop the process with
//   SIGTTOU, even inside a handler. A run that reaches the pause in the
//   background stops there, as any terminal program does, and waits once it
//   is brought to the foreground.
// Handlers use async-signal-safe calls only and keep errno. Signal sets
// start empty ({}), so that no path can ever read one uninitialised.
#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include "console/console.h"
#include "platform/platform.h"

namespace marvix {

void console_write(const char* bytes, std::size_t size) { write_all(kStdErr, bytes, size); }

bool console_is_terminal() {
  static const bool terminal = is_terminal(kStdErr);
  return terminal;
}

namespace {

// The terminal, opened on the first wait and kept for the run; -1 once we
// know there is none (no controlling terminal, as under setsid or in CI).
int g_tty = -2;

// Set for the length of one wait.
termios g_saved_mode;
termios g_raw_mode;
volatile std::sig_atomic_t g_waiting = 0;

// Every catchable signal whose default action ends the process, whether
// sent from elsewhere or raised by a fault.
constexpr int kFatalSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE,  SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGSYS,
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#if defined(__linux__) && defined(SIGPOLL)
    SIGPOLL,
#endif
#if defined(__linux__) && defined(SIGPWR)
    SIGPWR,
#endif
};

// The signals handled during a wait: the fatal ones, the real-time ones
// where the system has them, SIGTSTP and SIGCONT.
constexpr std::size_t kMaxHandled = std::size(kFatalSignals) + 66;

struct HandledSignals {
  int list[kMaxHandled] = {};
  std::size_t count = 0;

  HandledSignals() {
    for (const int sig : kFatalSignals) list[count++] = sig;
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX && count + 2 < std::size(list); ++sig) list[count++] = sig;
#endif
    list[count++] = SIGTSTP;
    list[count++] = SIGCONT;
  }
};

const HandledSignals& handled() {
  static const HandledSignals signals;
  return signals;
}

// Every signal is held while the mode and the handlers change together, so
// that none finds one without the other, and while a handler runs, so that
// none interrupts another halfway.
sigset_t every_signal() {
  sigset_t all{};
  sigfillset(&all);
  return all;
}

// Holds every signal; returns the mask to put back.
sigset_t hold_every_signal() {
  const sigset_t all = every_signal();
  sigset_t previous{};
  sigprocmask(SIG_BLOCK, &all, &previous);
  return previous;
}

// A set of one signal.
sigset_t just(int sig) {
  sigset_t one{};
  sigemptyset(&one);
  sigaddset(&one, sig);
  return one;
}

bool in_foreground() { return tcgetpgrp(g_tty) == getpgrp(); }

// Puts the saved mode back, if it is still ours to restore. Every signal is
// held here, SIGTTOU too: should the process be moved to the background
// right after the check, the call still does not stop it.
void restore_mode() {
  if (g_waiting != 0 && in_foreground()) tcsetattr(g_tty, TCSANOW, &g_saved_mode);
}

void set_action(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  action.sa_mask = every_signal();
  sigaction(sig, &action, nullptr);
}

void on_fatal_signal(int sig) {
  restore_mode();
  g_waiting = 0;  // nothing may make the terminal raw again
  set_action(sig, SIG_DFL);
  // Held while the handler runs; on return it ends the process.
  raise(sig);
}

// Raw mode again for a wait that goes on, if the terminal is ours.
void reapply_raw_mode() {
  if (g_waiting != 0 && in_foreground()) tcsetattr(g_tty, TCSANOW, &g_raw_mode);
}

// Whether SIGCONT waits while it is held: the sign that the process was
// stopped and has been continued since.
bool continue_pending() {
  sigset_t pending{};
  sigpending(&pending);
  return sigismember(&pending, SIGCONT) == 1;
}

void on_stop_signal(int sig) {
  const int saved_errno = errno;
  restore_mode();
  set_action(sig, SIG_DFL);
  raise(sig);
  const sigset_t only = just(sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);  // the process stops here
  set_action(sig, on_stop_signal);
  // ... unless its process group is orphaned (the run leads its own
  // session: exec marvix, ssh -t, script -c), where the kernel discards the
  // stop and no SIGCONT will come: the wait goes on, raw.
  if (!continue_pending()) reapply_raw_mode();
  errno = saved_errno;  // SIGCONT, held until now, comes next
}

// Continued: if it is in the foreground, the shell has put its own mode
// back. (In the background the next read stops the process again, until
// it is brought to the foreground and continued once more.)
void on_continue(int) {
  const int saved_errno = errno;
  reapply_raw_mode();
  errno = saved_errno;
}

// Stops the process group, as the kernel does when a background process
// changes its terminal's mode, unless no stop can come: SIGTTOU ignored or
// held off, or an orphaned process group, where the kernel discards the
// signal. True once the process has been stopped and continued.
bool stop_in_background() {
  struct sigaction ttou {};
  sigset_t mask{};
  sigaction(SIGTTOU, nullptr, &ttou);
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  if (ttou.sa_handler == SIG_IGN || sigismember(&mask, SIGTTOU) == 1) return false;
  const sigset_t cont = just(SIGCONT);
  sigprocmask(SIG_BLOCK, &cont, nullptr);
  kill(0, SIGTTOU);  // delivered, and the process stopped, before kill returns
  const bool stopped = continue_pending();
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  return stopped;
}

// The handlers for one wait, and what they replaced.
struct WaitSignals {
  struct sigaction previous[kMaxHandled] = {};
  bool replaced[kMaxHandled] = {};

  void install() {
    const HandledSignals& signals = handled();
    for (std::size_t i = 0; i < signals.count; ++i) {
      const int sig = signals.list[i];
      sigaction(sig, nullptr, &previous[i]);
      // Ignored stays ignored.
      if (previous[i].sa_handler == SIG_IGN && sig != SIGCONT) continue;
      set_action(sig, sig == SIGTSTP ? on_stop_signal : sig == SIGCONT ? on_continue : on_fatal_signal);
      replaced[i] = true;
    }
  }

  void uninstall() {
    for (std::size_t i = 0; i < handled().count; ++i) {
      if (replaced[i]) sigaction(handled().list[i], &previous[i], nullptr);
    }
  }
};

// Raw mode and the handlers for the length of one wait.
struct RawMode {
  WaitSignals handlers;
  bool active = false;

  RawMode() {
    // In the background the run stops, as it would on touching the
    // terminal, until it is brought to the foreground. Only in the
    // foreground is the mode read the one to keep: a shell at its prompt may
    // have the terminal in a mode of its own. Where no stop can come, the
    // terminal is not ours to change, and there is no wait.
    while (!in_foreground()) {
      if (!stop_in_background()) return;
    }
    int got;
    while ((got = tcgetattr(g_tty, &g_saved_mode)) != 0 && errno == EINTR) {
    }
    if (got != 0) return;
    g_raw_mode = g_saved_mode;
    g_raw_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    g_raw_mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    g_raw_mode.c_cc[VMIN] = 1;
    g_raw_mode.c_cc[VTIME] = 0;

    const sigset_t previous = hold_every_signal();
    handlers.install();
    g_waiting = 1;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    // Should the process have been stopped and sent to the background
    // meanwhile, this stops it again until it is continued; an interrupted
    // call is made again.
    while ((got = tcsetattr(g_tty, TCSANOW, &g_raw_mode)) != 0 && errno == EINTR) {
    }
    active = got == 0;
  }

  ~RawMode() {
    const sigset_t previous = hold_every_signal();
    restore_mode();
    g_waiting = 0;
    handlers.uninstall();
    // A signal held meanwhile now meets its old action, with the mode back.
    sigprocmask(SIG_SETMASK, &previous, nullptr);
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

// Whether more bytes arrive within 25 ms. select, since some systems
// (macOS) cannot poll a terminal.
bool more_bytes_soon() {
  if (g_tty >= FD_SETSIZE) return false;
  for (;;) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(g_tty, &ready);
    timeval wait{0, 25000};
    const int got = select(g_tty + 1, &ready, nullptr, nullptr, &wait);
    if (got >= 0 || errno != EINTR) return got > 0;
  }
}

void read_key() {
  // Cursor and function keys send several bytes at once (ESC [ A): the
  // first read takes all that has arrived, and bytes that follow closely
  // are taken too, so that none of them ends the next wait or reaches the
  // shell after the run.
  char buffer[64];
  if (!read_some(buffer, sizeof buffer)) return;
  for (int bursts = 0; bursts < 4 && more_bytes_soon(); ++bursts) {
    if (!read_some(buffer, sizeof buffer)) return;
  }
}

}  // namespace

bool console_can_wait() {
  if (g_tty == -2) g_tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  return g_tty >= 0;
}

void console_pause(std::string_view prompt) {
  RawMode raw;
  // Raw mode comes first, so that no key typed after the prompt is echoed.
  write_all(g_tty, prompt.data(), prompt.size());
  if (raw.active) read_key();
}

}  // namespace marvix
