// The console on POSIX systems, in three parts: the channel (messages on
// standard error), the mode guard (the terminal's raw mode for one wait,
// and the signals, job control and hang-ups around it), and the key read
// on the controlling terminal.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "console/console.h"
#include "platform/platform.h"

namespace marvix {

// ---------------------------------------------------------------------------
// The channel: standard error.

void console_print(std::string_view text) { write_all(kStdErr, text.data(), text.size()); }

bool console_is_terminal() {
  static const bool terminal = is_terminal(kStdErr);
  return terminal;
}

// Terminals here have no code page of their own to ask: text from the
// debug file is shown as a file name is.
const CodePage* console_code_page() { return nullptr; }

void console_write_file_text(const char* bytes, std::size_t size) { console_write_external(bytes, size); }

// ---------------------------------------------------------------------------
// The mode guard.
//
// During the wait the terminal is raw: no line editing, no echo, and no
// signal keys, so Ctrl+C and Ctrl+Z are just keys that end the wait.
// Whatever happens to the process meanwhile, the terminal must get its mode
// back, and the run must never be left stopped with no one to continue it:
// - a signal that ends the process restores the mode first, and then ends
//   the process as it would have without the handler;
// - a stop (SIGTSTP, and SIGTTIN and SIGTTOU sent by kill, a debugger or
//   a job-control shell) restores the mode and then stops, and SIGCONT
//   applies raw mode again while the wait goes on, so one key still ends
//   the pause after fg; where the kernel discards the stop (an orphaned
//   process group), raw mode returns at once;
// - a signal that the process inherited as ignored (nohup, background jobs
//   of a non-interactive shell) stays ignored;
// - a process in the background never touches the mode: the terminal then
//   belongs to the foreground job, and tcsetattr would stop the process with
//   SIGTTOU, even inside a handler. A run that reaches the pause in the
//   background stops there, as any terminal program does, and waits once it
//   is brought to the foreground;
// - a terminal that has hung up, or cannot be asked whose it is, ends the
//   wait at once: no stop, no mode change, and the listing goes on.
// The handlers are installed at the first wait and stay for the run: with
// no wait on, each does what the default action does. They use
// async-signal-safe calls only and keep errno. Signal sets start empty
// ({}), so that no path can ever read one uninitialised.

namespace {

// The terminal, opened on the first wait and kept for the run; -1 once we
// know there is none (no controlling terminal, as under setsid or in CI).
int g_tty = -2;

// Set for the length of one wait (g_waiting is zero outside one).
termios g_saved_mode{};
termios g_raw_mode{};
volatile std::sig_atomic_t g_waiting = 0;

bool g_handlers_installed = false;

// Every catchable signal whose default action ends the process, whether
// sent from elsewhere or raised by a fault, but SIGPIPE and SIGXFSZ, which
// the process ignores from the start (a refused write is a write error).
constexpr int kFatalSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGVTALRM, SIGPROF, SIGXCPU, SIGSYS,
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef __linux__  // fatal on Linux, not everywhere
    SIGPOLL,   SIGPWR,
#endif
};

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
sigset_t signal_set(int sig) {
  sigset_t one{};
  sigemptyset(&one);
  sigaddset(&one, sig);
  return one;
}

// Whose the terminal is. A terminal that has hung up answers no more (EIO),
// and neither does one the process no longer belongs to.
enum class Owner { us, other, unknown };

Owner terminal_owner() {
  const pid_t group = tcgetpgrp(g_tty);
  if (group == -1) return Owner::unknown;
  return group == getpgrp() ? Owner::us : Owner::other;
}

// Puts the saved mode back, if it is still ours to restore. Every signal is
// held here, SIGTTOU too: should the process be moved to the background
// right after the check, the call still does not stop it.
void restore_mode() {
  if (g_waiting != 0 && terminal_owner() == Owner::us) tcsetattr(g_tty, TCSANOW, &g_saved_mode);
}

// Raw mode again for a wait that goes on, if the terminal is ours.
void reapply_raw_mode() {
  if (g_waiting != 0 && terminal_owner() == Owner::us) tcsetattr(g_tty, TCSANOW, &g_raw_mode);
}

void set_action(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  action.sa_mask = every_signal();
  sigaction(sig, &action, nullptr);
}

// Takes the signal's default action at once, inside the handler that
// holds every other signal: no handler can run after it (a SIGCONT that
// would make the terminal raw again, say) before the process ends or
// stops.
void take_default_action(int sig) {
  set_action(sig, SIG_DFL);
  raise(sig);
  const sigset_t only = signal_set(sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

void on_fatal_signal(int sig) {
  restore_mode();
  take_default_action(sig);  // the process ends here
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
  take_default_action(sig);  // the process stops here
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
  const sigset_t cont = signal_set(SIGCONT);
  sigprocmask(SIG_BLOCK, &cont, nullptr);
  kill(0, SIGTTOU);  // delivered, and the process stopped, before kill returns
  const bool stopped = continue_pending();
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  return stopped;
}

// A signal inherited as ignored stays ignored.
void install(int sig, void (*handler)(int)) {
  struct sigaction previous {};
  sigaction(sig, nullptr, &previous);
  if (previous.sa_handler != SIG_IGN) set_action(sig, handler);
}

// The fatal signals, the real-time ones where the system has them, SIGTSTP
// and SIGCONT.
void install_handlers() {
  for (const int sig : kFatalSignals) install(sig, on_fatal_signal);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig, on_fatal_signal);
#endif
  for (const int sig : {SIGTSTP, SIGTTIN, SIGTTOU}) install(sig, on_stop_signal);
  set_action(SIGCONT, on_continue);  // even if ignored: the kernel continues the process either way
}

// Raw mode for the length of one wait.
struct RawMode {
  bool active = false;

  RawMode() {
    // In the background the run stops, as it would on touching the
    // terminal, until it is brought to the foreground. Only in the
    // foreground is the mode read the one to keep: a shell at its prompt may
    // have the terminal in a mode of its own. Where no stop can come, the
    // terminal is not ours to change, and there is no wait.
    for (;;) {
      const Owner owner = terminal_owner();
      if (owner == Owner::us) break;
      if (owner == Owner::unknown || !stop_in_background()) return;
    }
    if (tcgetattr(g_tty, &g_saved_mode) != 0) return;
    g_raw_mode = g_saved_mode;
    g_raw_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    g_raw_mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    g_raw_mode.c_cc[VMIN] = 1;
    g_raw_mode.c_cc[VTIME] = 0;

    const sigset_t previous = hold_every_signal();
    if (!g_handlers_installed) {
      install_handlers();
      g_handlers_installed = true;
    }
    g_waiting = 1;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    // Should the process have been stopped and sent to the background
    // meanwhile, this stops it again until it is continued; an interrupted
    // call is made again.
    int set = 0;
    while ((set = tcsetattr(g_tty, TCSANOW, &g_raw_mode)) != 0 && errno == EINTR) {
    }
    active = set == 0;
    // Keys typed before the prompt (during the listing, or ahead of it) are
    // discarded, so that only a key pressed after the prompt ends the wait.
    // Not with TCSAFLUSH: Linux then discards only what it has queued for
    // reading, not keys still on their way in (just typed, or held back
    // behind a full queue). After the switch, so that no key comes in
    // between to be read raw.
    if (active) tcflush(g_tty, TCIFLUSH);
  }

  ~RawMode() {
    const sigset_t previous = hold_every_signal();
    restore_mode();
    g_waiting = 0;
    // A signal held meanwhile now comes with the mode back.
    sigprocmask(SIG_SETMASK, &previous, nullptr);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};

// ---------------------------------------------------------------------------
// The key read.

// Waits for a key. Cursor and function keys send several bytes (ESC [ A),
// which may arrive a little apart: once the first byte is in, whatever
// comes within 25 ms is part of the same key, and it is discarded with
// any keys typed ahead, so that none of it reaches the shell after the
// last wait. A terminal that has gone away ends the wait.
void read_key() {
  char key = 0;
  ssize_t got = 0;
  while ((got = read(g_tty, &key, 1)) == -1 && errno == EINTR) {
  }
  if (got != 1) return;
  const timespec burst{0, 25'000'000};
  nanosleep(&burst, nullptr);
  tcflush(g_tty, TCIFLUSH);
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
