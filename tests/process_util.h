// Helpers for the end-to-end and terminal tests on POSIX systems: running
// the built binary with its streams captured, and running code in a child
// process under a memory budget.
#pragma once

#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "test_util.h"

namespace test {

// The built marvix, run without a controlling terminal.
struct Run {
  std::string command;  // the arguments and options, for failure messages
  int status = -1;      // exit status, or -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};
struct RunOptions {
  std::string stdin_path;   // empty: /dev/null; "-": closed
  std::string stdout_path;  // empty: captured; "-": closed
  bool close_stderr = false;
  bool stderr_to_stdout = false;  // 2>&1: both into one pipe, captured as `out`
  // Standard output and error are non-blocking pipes, drained slowly; with
  // `unread_until_asleep`, only once the run sleeps, waiting for them.
  bool slow_nonblocking_pipes = false;
  bool unread_until_asleep = false;
  unsigned cpu_seconds = 0;      // a limit on the processor time of the run; 0: none
  long file_size_limit = -1;     // in bytes, as ulimit -f sets it; -1: none
  std::vector<std::string> env;  // NAME=VALUE
};
#ifdef MARVIX_HOSTILE_SYSTEM
// The system at the edge of what POSIX allows (hostile_system.cpp).
inline const std::string kHostileSystem = "LD_PRELOAD=" MARVIX_HOSTILE_SYSTEM;
#endif
Run run_marvix(const std::vector<std::string>& args, const RunOptions& options = {});

// Starting the tool in a child process, as run_marvix and the terminal
// tests' shell do. `path` opened for standard stream `fd`: read and
// written for 0, as a terminal is, so that a write there by mistake would
// land and show; else written (created, emptied); "-" is a closed stream, -1.
int open_stream(const std::string& path, int fd);
// Makes these descriptors standard input, output and error; -1 closes one.
// All are opened first, so that none lands on a stream closed here.
void use_streams(int in, int out, int err);
// Closes every descriptor from 3 up but those in `keep`.
void close_all_but(std::initializer_list<int> keep);
// Runs the built marvix with `args`, descriptors 0 to `last_open` alone
// open; exits with 127 when it cannot.
[[noreturn]] void exec_marvix(const std::vector<std::string>& args, int last_open = 2);

// What a process does that shows nowhere but in the kernel's state (a
// terminal's mode, whether a process sleeps) is polled for, for at most
// 20 s, until `condition` holds; it need not hold for long.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 20000; ++i) {
    if (condition()) return true;
    usleep(1000);
  }
  return false;
}

// The state of a process as /proc shows it: 'R' running, 'S' asleep until
// something it waits for comes, 'T' stopped, 'Z' ended and not yet waited
// for; 0 where it cannot be read.
char process_state(pid_t pid);
// Whether `sig` has been sent to `pid` and not yet taken in.
bool signal_pending(pid_t pid, int sig);

// Forks a child whose standard output and error go to the given files and
// whose address space may grow by only `budget` bytes beyond what it holds
// (Linux: read from /proc). Returns 0 in the child.
pid_t fork_with_memory_budget(std::size_t budget, const std::string& out, const std::string& err);
Run collect_child(pid_t child, const std::string& out, const std::string& err);

// Runs `body` (returning an exit status) in such a child; `what` names the
// case in failure messages.
template <typename Body>
Run run_with_memory_budget(std::size_t budget, const std::string& what, Body body) {
  static int serial = 0;
  const std::string out = temp_path("budget_out" + std::to_string(++serial));
  const std::string err = temp_path("budget_err" + std::to_string(serial));
  const pid_t child = fork_with_memory_budget(budget, out, err);
  if (child == 0) _exit(body());
  Run run = collect_child(child, out, err);
  run.command = what + ", with " + std::to_string(budget) + " bytes to spare";
  return run;
}

// Whether the system holds a child to its budget. qemu-user accepts the
// limit but does not enforce it, since the emulator itself needs the space.
bool memory_budget_enforced();

}  // namespace test
