// A job-control shell for the pause tests on a real (pseudo-)terminal
// (terminal_test.cpp), run the way a shell runs a job: a small "shell", the
// session leader with the terminal as its controlling terminal, starts
// marvix in a process group of its own, in the foreground or the
// background, and on request waits for it or brings it to the foreground.
// A test reads the screen and types keys on the master side (Session).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "process_util.h"

namespace test {

struct Job {
  std::vector<std::string> args;  // after the binary
  // Standard input, output and error: empty for the terminal, "-" closed,
  // else a file.
  std::string in, out, err;
  int out_fd = -1;  // standard output to this descriptor instead (a pipe's write end)
  bool background = false;
  bool leads_session = false;         // leads its own session on the terminal, as under exec or ssh -t
  bool output_stopped = false;        // the terminal's output suspended before the job starts, as by ^S
  std::vector<int> ignored;           // signals the job starts with ignored, as under nohup
  std::vector<int> blocked;           // and blocked
  rlim_t open_files = RLIM_INFINITY;  // a limit on the descriptors it may have open, as ulimit -n sets it
  std::string typed_ahead;            // keys on the terminal before the job starts, as typed during a listing
  void (*terminal_mode)(termios&) =
      nullptr;                   // changes the terminal's mode before the job starts, as stty does
  int inherited_up_to = 0;       // descriptors 3 to this one open, as a careless parent leaves them
  std::vector<std::string> env;  // NAME=VALUE: the hostile system's switches
};

// Each test runs on this system and, where a library can be preloaded into
// the tool, again on one at the edge of what POSIX allows
// (hostile_system.cpp), where calls are interrupted.
extern const char* g_preload;

// The shell: starts the job, then answers commands, one byte each:
//   'w'  wait for the job to stop or end; replies with its wait status
//        (and takes the terminal back when it stopped)
//   'f'  bring it to the foreground, as fg does: the mode for jobs on the
//        terminal, the terminal to the job, then SIGCONT
//   'p'  whether the job's partner (in the background) has had SIGTTOU
//   't'  take the terminal for the shell, in its editing mode, while the
//        job goes on
// While a job runs in the background the shell is at its prompt, with the
// terminal in a line-editing mode of its own (no echo, no canonical input),
// as bash and zsh have it. It outlives a hang-up of its terminal, as a shell
// under nohup does.
[[noreturn]] void run_shell(int terminal, int commands, int replies, const Job& job);

// With its leading line feed, so that prompts cannot run together.
constexpr const char* kPrompt = "\npress a key...";

// A job run by the shell on a fresh pseudo-terminal, whose master side the
// test holds.
struct Session {
  int master = -1;
  int to_shell = -1;
  int from_shell = -1;
  pid_t shell = -1;
  pid_t job = -1;
  bool job_ended = false;  // waited for by the shell: its pid is no longer its own
  termios before{};
  std::string screen;  // everything written to the terminal

  explicit Session(const Job& job_to_run);
  ~Session() { end(); }
  void end();  // the job and the shell ended, the terminal closed
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool reply(void* value, std::size_t size) {
    pollfd p{from_shell, POLLIN, 0};
    return poll(&p, 1, 20000) == 1 && read(from_shell, value, size) == static_cast<ssize_t>(size);
  }
  // The shell's reply to a command (for 'w', the job's wait status); -1 when none comes.
  int command(char c) {
    int answer = -1;
    return write(to_shell, &c, 1) == 1 && reply(&answer, sizeof answer) ? answer : -1;
  }
  // A job that neither stops nor ends in time is killed, so that the shell,
  // waiting for it, answers: the test fails rather than hangs.
  int wait_job() {
    int status = -1;
    if (job_ended || write(to_shell, "w", 1) != 1) return -1;
    if (!reply(&status, sizeof status) && kill(job, SIGKILL) == 0) reply(&status, sizeof status);
    job_ended = status != -1 && !WIFSTOPPED(status);
    return status;
  }
  void foreground() { EXPECT_EQ(command('f'), 0); }

  // Reads the screen until `text` stands on it `count` times.
  bool wait_for(const std::string& text, int count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (occurrences(text) < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t got = read(master, buffer, sizeof buffer);
      if (got <= 0) return false;
      screen.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
  }
  // The run waits at its `count`th prompt and has not gone past it: the
  // prompts on the screen, once all it has written stands there, must each
  // have had their key, and nothing follows the last.
  bool at_pause(int count) {
    return wait_for(kPrompt, count) && eventually([&] { return waiting(); }) && settled() &&
           occurrences(kPrompt) == count && screen.ends_with(std::string(kPrompt) + "<mark>");
  }
  int occurrences(const std::string& text) const {
    int n = 0;
    for (std::size_t at = 0; (at = screen.find(text, at)) != std::string::npos; ++at) ++n;
    return n;
  }
  // Everything the job has written stands on the screen: a mark written on
  // the terminal after it comes after all of it. The marks stay on the
  // screen, "<mark>" each.
  bool settled() {
    const int terminal = open(ptsname(master), O_WRONLY | O_NOCTTY);
    const bool marked = write(terminal, "<mark>", 6) == 6;
    close(terminal);
    return marked && wait_for("<mark>", occurrences("<mark>") + 1);
  }
  // Stops the job once it sleeps, waiting for something: a SIGCONT then
  // comes in before it does anything else.
  bool stop_when_asleep() {
    return eventually([&] { return process_state(job) == 'S'; }) && kill(job, SIGSTOP) == 0 &&
           eventually([&] { return process_state(job) == 'T'; });
  }
  // At a pause, raw and asleep: the keys typed ahead are gone, and the run
  // waits for its key, or for its prompt to go out.
  bool waiting() const { return raw() && process_state(job) == 'S'; }
  // No line editing or echo, and Ctrl+C a key; the terminal's other signal
  // keys as they were.
  bool raw() const {
    const termios now = mode();
    return (now.c_lflag & (ECHO | ICANON)) == 0 && (now.c_lflag & ISIG) == (before.c_lflag & ISIG) &&
           now.c_cc[VINTR] == _POSIX_VDISABLE && now.c_cc[VMIN] == 1 && now.c_cc[VTIME] == 0;
  }
  termios mode() const {
    termios now{};
    tcgetattr(master, &now);  // a master reports its terminal's mode
    return now;
  }
  bool mode_is(const termios& expected) const {
    const termios now = mode();  // field by field: a copy need not keep the padding
    return now.c_iflag == expected.c_iflag && now.c_oflag == expected.c_oflag &&
           now.c_lflag == expected.c_lflag && now.c_cflag == expected.c_cflag &&
           std::memcmp(now.c_cc, expected.c_cc, sizeof now.c_cc) == 0;
  }
  bool mode_unchanged() const { return mode_is(before); }
  // Output on the terminal held, as ^S holds it, or resumed.
  void hold_output(bool held) const {
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    EXPECT_EQ(tcflow(terminal, held ? TCOOFF : TCOON), 0);
    close(terminal);
  }
  // What has been typed and not yet read.
  int unread() const {
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    int queued = -1;
    ioctl(terminal, FIONREAD, &queued);
    close(terminal);
    return queued;
  }
  void type(const char* keys) {
    ASSERT_EQ(write(master, keys, std::strlen(keys)), static_cast<ssize_t>(std::strlen(keys)));
  }
};

// 70 rows + title, header, closing line = 73 lines: pauses after 23, 46, 69.
inline std::string three_page_file() {
  return write_temp("pages.dbg", dbg::debug_file(std::vector<dbg::File>(70, {0, 1, "f"}), {}, {}));
}

inline Job paused(const std::string& out) { return {.args = {three_page_file(), "-p"}, .out = out}; }

inline bool exited_with(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// Ended by `sig`; on the hostile system, where the signal the run sends
// itself to end by it is lost, by exiting as a shell reports that end.
inline bool ended_by(int status, int sig) {
  return *g_preload != '\0' ? exited_with(status, 128 + sig) : WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

}  // namespace test
