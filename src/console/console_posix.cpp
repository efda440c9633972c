// The console on POSIX systems: the channel (messages on standard error)
// and the key wait on the controlling terminal.
#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "console/console.h"
#include "platform/platform.h"

namespace marvix {

// ---------------------------------------------------------------------------
// The channel: standard error.

void console_print(std::string_view text) { write_all(kStdErr, text.data(), text.size(), nullptr); }

bool console_is_terminal() {
  static const bool terminal = is_terminal(kStdErr);
  return terminal;
}

// Terminals here have no code page of their own to ask: text from the
// debug file is shown as a file name is.
const CodePage* console_code_page() { return nullptr; }

void console_write_file_text(const char* bytes, std::size_t size) { console_write_external(bytes, size); }

// ---------------------------------------------------------------------------
// The key wait.
//
// During the wait the terminal is raw: no line editing, no echo, and the
// interrupt key (Ctrl+C) is a key like any other, which ends the wait. The
// terminal's other signal keys mean what they mean in every program: the
// suspend key (Ctrl+Z) stops the run and the quit key (Ctrl+\) ends it, so
// that a listing of thousands of pages can always be left. A key the user
// has undefined, or signal keys the user has turned off, stay so. Whatever
// happens to the process meanwhile, the terminal gets its mode back, and
// the run is never left stopped with no one to continue it.
//
// The signal handlers only record what came. The wait holds every signal
// and lets them in only where it waits: in pselect, for the prompt to go
// out and the key to come, and while it is stopped. So no signal can fall
// between a check and the wait, and the loop does the rest in ordinary
// code:
// - a signal that ends the process: the saved mode back, then the process
//   ends by that signal, as it would have without the wait;
// - a stop (the suspend key, and SIGTSTP, SIGTTIN and SIGTTOU sent by kill,
//   a debugger or a shell): the saved mode back, then the stop; on return
//   raw mode again and the prompt again, which the shell has written over.
//   Where the kernel discards the stop (an orphaned process group: exec
//   marvix, script -c, ssh -t, tmux new), the loop goes on, raw again;
// - SIGCONT: where the terminal no longer has the raw mode (after SIGSTOP,
//   which no process sees, the shell puts its own mode back), raw mode and
//   the prompt again; else nothing, since a SIGCONT need not follow a stop;
// - in the background the mode is never touched: the terminal belongs to
//   the foreground job. The run stops, as any program that touched the
//   terminal would, and waits once it is brought to the foreground;
// - a terminal that has hung up, cannot be asked whose it is, or has been
//   given to another process group while the wait waits, ends the wait.
// The handlers are in place only during a wait, and only for signals that
// the run started with their default action: one inherited as ignored stays
// ignored, one inherited as held stays held. Signals that report a fault of
// the program itself (SIGSEGV, SIGABRT and the like) are left alone, as
// less leaves them: one sent to a run at a pause leaves the terminal raw.

namespace {

// The terminal, opened on the first wait and kept for the run; -1 once we
// know there is none (no controlling terminal, as under setsid or in CI).
// Non-blocking: the wait's only blocking call is pselect.
int g_tty = -2;

// What the handlers record, one signal of each kind. Two of a kind need no
// more than one: either ends, or stops, the process alike.
volatile std::sig_atomic_t g_ending = 0;
volatile std::sig_atomic_t g_stopping = 0;
volatile std::sig_atomic_t g_continued = 0;

void on_ending(int sig) { g_ending = sig; }
void on_stopping(int sig) { g_stopping = sig; }
void on_continued(int) { g_continued = 1; }

// The signals whose default action ends the process and that come from
// elsewhere, but SIGPIPE and SIGXFSZ, which the run ignores (a refused
// write is a write error), and the real-time signals (below).
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef __linux__  // fatal on Linux, not everywhere
    SIGPOLL,   SIGPWR,
#endif
#ifdef SIGSTKFLT  // never raised by Linux itself
    SIGSTKFLT,
#endif
};

constexpr int kStoppingSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

void set_action(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigfillset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// Swaps the default action of `sig` for `handler`, or back: a signal that
// has neither is left as it is.
void swap_action(int sig, void (*from)(int), void (*to)(int)) {
  struct sigaction now {};
  if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == from) set_action(sig, to);
}

void swap_all(bool into_wait) {
  const auto swap = [into_wait](int sig, void (*handler)(int)) {
    if (into_wait) {
      swap_action(sig, SIG_DFL, handler);
    } else {
      swap_action(sig, handler, SIG_DFL);
    }
  };
  for (const int sig : kEndingSignals) swap(sig, on_ending);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) swap(sig, on_ending);
#endif
  for (const int sig : kStoppingSignals) swap(sig, on_stopping);
}

// One wait's hold on the signals: the handlers in place and every signal
// held. At its end each is as the run had it, and one that came since the
// wait last let signals in comes now, with that action.
struct SignalHold {
  sigset_t before{};     // the run's own mask
  sigset_t wait_mask{};  // the mask inside pselect: the run's own, but never SIGCONT
  sigset_t held{};
  struct sigaction continue_action {};  // SIGCONT's before

  SignalHold() {
    sigfillset(&held);
    sigprocmask(SIG_BLOCK, &held, &before);
    wait_mask = before;
    sigdelset(&wait_mask, SIGCONT);
    g_ending = 0;
    g_stopping = 0;
    g_continued = 0;
    swap_all(true);
    // The kernel continues a stopped process even when SIGCONT is ignored
    // or held: the wait must know.
    struct sigaction action {};
    action.sa_handler = on_continued;
    sigfillset(&action.sa_mask);
    sigaction(SIGCONT, &action, &continue_action);
  }
  ~SignalHold() {
    sigaction(SIGCONT, &continue_action, nullptr);
    swap_all(false);
    sigprocmask(SIG_SETMASK, &before, nullptr);
  }
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;
};

// Whose the terminal is. A terminal that has hung up answers no more (EIO),
// and neither does one the process no longer belongs to.
enum class Owner { us, other, unknown };

Owner terminal_owner() {
  const pid_t group = tcgetpgrp(g_tty);
  if (group == -1) return Owner::unknown;
  return group == getpgrp() ? Owner::us : Owner::other;
}

// The terminal's mode for one wait: raw while it waits for the key; the
// saved mode back at its end and before every stop, once the wait has set
// out to change it, if the terminal is still ours to change.
struct TerminalMode {
  termios saved{};
  termios raw{};
  bool have_saved = false;
  bool is_raw = false;  // raw mode is in force, as far as the wait knows

  // Only in the foreground is the mode read the one to keep: a shell at
  // its prompt may have the terminal in a mode of its own. It is read once:
  // after a stop it may be the raw mode itself.
  bool enter() {
    if (!have_saved) {
      if (tcgetattr(g_tty, &saved) != 0) return false;
      raw = saved;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
      raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
      raw.c_cc[VINTR] = _POSIX_VDISABLE;  // Ctrl+C comes as a key
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      have_saved = true;
    }
    is_raw = tcsetattr(g_tty, TCSANOW, &raw) == 0;
    return is_raw;
  }
  // Whether the terminal still has the raw mode: after SIGSTOP, which no
  // process sees, a shell puts its own mode back.
  bool still_raw() const {
    termios now{};
    return tcgetattr(g_tty, &now) == 0 && now.c_iflag == raw.c_iflag && now.c_lflag == raw.c_lflag &&
           std::memcmp(now.c_cc, raw.c_cc, sizeof now.c_cc) == 0;
  }
  // Not only when raw mode is in force as far as the wait knows: a SIGCONT
  // that found the mode changed by another program (stty) says it is not,
  // and the terminal may still be raw in part.
  void leave() {
    if (have_saved && terminal_owner() == Owner::us) tcsetattr(g_tty, TCSANOW, &saved);
    is_raw = false;
  }
  ~TerminalMode() { leave(); }
};

// Ends the process by `sig`, as the signal's default action would: `sig`
// alone let in, its default action restored, so that it is the signal
// delivered before sigprocmask returns. Where the process is immune to its
// own signal (the first process of a PID namespace, as under docker run,
// where the kernel drops it), or a tracer swallows it, it exits with the
// status a shell gives that end: the wait never goes on.
[[noreturn]] void end_by(int sig) {
  set_action(sig, SIG_DFL);
  kill(getpid(), sig);
  sigset_t only{};
  sigfillset(&only);
  sigdelset(&only, sig);
  sigprocmask(SIG_SETMASK, &only, nullptr);
  _exit(128 + sig);
}

// Stops the process (`whom` is its id), or with `whom` 0 its whole group,
// by `sig`, as the signal's default action would, letting in what the
// wait lets in. True when the process was stopped and has been continued;
// false where the kernel discarded the stop. (Generating a stop discards
// a SIGCONT that waits, so only a later one counts.)
bool stop_by(int sig, pid_t whom, const SignalHold& hold) {
  set_action(sig, SIG_DFL);
  g_continued = 0;
  kill(whom, sig);
  sigset_t mask = hold.wait_mask;
  sigdelset(&mask, sig);
  sigprocmask(SIG_SETMASK, &mask, nullptr);  // stopped here until continued
  sigprocmask(SIG_SETMASK, &hold.held, nullptr);
  set_action(sig, on_stopping);
  return g_continued != 0;
}

// Whether a run in the background can stop until it is brought to the
// foreground. Not where SIGTTOU came ignored or held, as a parent may
// leave it: then nothing stops it from changing the mode of a terminal
// that is not its own, so it must not wait.
bool can_stop_in_background(const SignalHold& hold) {
  struct sigaction ttou {};
  sigaction(SIGTTOU, nullptr, &ttou);
  return ttou.sa_handler == on_stopping && sigismember(&hold.before, SIGTTOU) != 1;
}

// Reads the key. One byte is enough: the rest of a cursor or function
// key's sequence (ESC [ A), and any keys typed with it, are discarded, so
// that none of it reaches the shell after the last wait. Bytes that come
// later are discarded by the next wait as it begins, and after the last
// one reach the shell. True when the wait is over: a key came, or the
// terminal has gone away or been given to another process group (EIO).
// Nothing to read (another process took the byte) is no key. Every signal
// is held here: nothing interrupts the read.
bool read_key() {
  char key = 0;
  const ssize_t got = read(g_tty, &key, 1);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  if (got == 1) tcflush(g_tty, TCIFLUSH);
  return true;
}

// Writes what it can of the prompt; returns how much of it stands. Every
// signal is held here, as in read_key.
std::size_t show(std::string_view prompt, std::size_t shown) {
  const ssize_t done = write(g_tty, prompt.data() + shown, prompt.size() - shown);
  if (done > 0) return shown + static_cast<std::size_t>(done);
  if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return shown;
  return prompt.size();  // a terminal that takes nothing: the prompt is dropped
}

}  // namespace

bool console_can_wait() {
  if (g_tty == -2) g_tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (g_tty >= FD_SETSIZE) {  // beyond what pselect can watch: a parent left that many open
    close(g_tty);
    g_tty = -1;
  }
  return g_tty >= 0;
}

void console_pause(std::string_view prompt) {
  SignalHold hold;
  TerminalMode mode;  // left before the signals are given back
  bool key_wanted = true;
  std::size_t shown = 0;
  for (;;) {
    // What came while signals were let in is dealt with first, every time,
    // and before the one way out.
    if (g_ending != 0) {
      mode.leave();
      end_by(g_ending);
    }
    // Where the shell has been at the terminal (after fg), it has written
    // over the prompt: the prompt again, if the key is still to come.
    if (g_stopping != 0) {
      const int sig = g_stopping;
      g_stopping = 0;
      mode.leave();
      if (stop_by(sig, getpid(), hold) && key_wanted) shown = 0;
      continue;  // `kill %1` sends SIGTERM to a stopped run, then SIGCONT
    }
    if (g_continued != 0) {
      g_continued = 0;
      if (mode.is_raw && !mode.still_raw()) {
        mode.is_raw = false;
        if (key_wanted) shown = 0;
      }
    }
    // A wait that wants no key, or no more, still shows its prompt.
    if (!key_wanted && shown == prompt.size()) return;
    if (key_wanted && !mode.is_raw) {
      const Owner owner = terminal_owner();
      if (owner == Owner::other && can_stop_in_background(hold) && stop_by(SIGTTOU, 0, hold)) continue;
      // (With SIGTTOU held, a SIGSTOP and bg from elsewhere between the
      // look at whose the terminal is and the change of its mode would go
      // unseen: a window of a few calls.)
      key_wanted = owner == Owner::us && mode.enter();
      // Keys typed before the prompt (during the listing, ahead of it, or
      // while the run was stopped) are discarded, so that only a key
      // pressed after the prompt ends the wait. Not with TCSAFLUSH: Linux
      // then discards only what it has queued for reading, not keys still
      // on their way in (just typed, or held back behind a full queue).
      // After the switch, so that no key comes in between to be read raw.
      if (key_wanted && shown == 0) tcflush(g_tty, TCIFLUSH);
      continue;
    }
    fd_set readable{};
    fd_set writable{};
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    if (key_wanted) FD_SET(g_tty, &readable);
    if (shown < prompt.size()) FD_SET(g_tty, &writable);
    const int ready = pselect(g_tty + 1, &readable, &writable, nullptr, nullptr, &hold.wait_mask);
    if (ready < 0) {
      if (errno != EINTR) {  // nothing to wait on: the wait is over
        key_wanted = false;
        shown = prompt.size();
      }
      continue;
    }
    if (FD_ISSET(g_tty, &writable)) shown = show(prompt, shown);
    if (FD_ISSET(g_tty, &readable) && read_key()) key_wanted = false;
  }
}

}  // namespace marvix
