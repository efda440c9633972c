#include "terminal_session.h"

#include <sys/ioctl.h>

// openpty's header differs by system.
#if __has_include(<pty.h>)
#include <pty.h>
#elif __has_include(<util.h>)
#include <util.h>
#elif __has_include(<libutil.h>)
#include <libutil.h>
#endif

#include <csignal>
#include <stdexcept>

namespace test {

const char* g_preload = "";

namespace {

[[noreturn]] void exec_job(const Job& job, int terminal) {
  for (const int sig : {SIGHUP, SIGTTOU, SIGTTIN, SIGTSTP}) signal(sig, SIG_DFL);
  for (const int sig : job.ignored) signal(sig, SIG_IGN);
  sigset_t blocked{};
  sigemptyset(&blocked);
  for (const int sig : job.blocked) sigaddset(&blocked, sig);
  sigprocmask(SIG_SETMASK, &blocked, nullptr);
  if (*g_preload != '\0') setenv("LD_PRELOAD", g_preload, 1);
  for (const std::string& setting : job.env) putenv(const_cast<char*>(setting.c_str()));
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  const auto stream = [&](const std::string& path, int fd) {
    return path.empty() ? terminal : open_stream(path, fd);
  };
  use_streams(stream(job.in, 0), stream(job.out, 1), stream(job.err, 2));
  if (job.out_fd >= 0) dup2(job.out_fd, 1);
  // A limit that cannot be had (above the hard limit) fails the job, not
  // quietly the situation its test names.
  const rlimit open_files{job.open_files, job.open_files};
  if (job.open_files != RLIM_INFINITY && setrlimit(RLIMIT_NOFILE, &open_files) != 0) _exit(125);
  if (job.inherited_up_to > 0) {
    close_all_but({});
    for (int fd = 0; fd >= 0 && fd < job.inherited_up_to;) fd = open("/dev/null", O_RDONLY);
  }
  exec_marvix(job.args, std::max(job.inherited_up_to, 2));
}

// A job in the background has a partner in its process group, as in a
// pipeline. It takes SIGTTOU, which the job sends its group to stop it, and
// answers each query with whether one came: a signal sent before the query
// was written is handled before the query is read. It ends with the shell.
volatile std::sig_atomic_t g_partner_had_ttou = 0;

void on_partner_ttou(int) { g_partner_had_ttou = 1; }

[[noreturn]] void run_partner(int queries, int replies) {
  for (char query; read(queries, &query, 1) == 1;) {
    const int had = g_partner_had_ttou;
    if (write(replies, &had, sizeof had) != sizeof had) break;
  }
  _exit(0);
}

}  // namespace

[[noreturn]] void run_shell(int terminal, int commands, int replies, const Job& job) {
  if (!job.leads_session) {
    setsid();
    ioctl(terminal, TIOCSCTTY, 0);
  }
  for (const int sig : {SIGHUP, SIGTTOU, SIGTTIN, SIGTSTP}) signal(sig, SIG_IGN);
  close_all_but({terminal, commands, replies, job.out_fd});
  termios job_mode{};
  tcgetattr(terminal, &job_mode);
  termios editing_mode = job_mode;
  editing_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
  int go[2];
  int to_partner[2];
  int from_partner[2];
  if (pipe(go) != 0 || pipe(to_partner) != 0 || pipe(from_partner) != 0) _exit(1);
  const pid_t child = fork();
  if (child < 0) _exit(1);
  if (child == 0) {
    if (job.leads_session) {
      setsid();
      ioctl(terminal, TIOCSCTTY, 0);
    } else {
      setpgid(0, 0);
    }
    char ready;
    if (read(go[0], &ready, 1) != 1) _exit(1);
    exec_job(job, terminal);
  }
  if (!job.leads_session) setpgid(child, child);
  // The partner takes SIGTTOU from the start (reads go on after it), and
  // joins the group before the job starts.
  struct sigaction take_ttou {};
  take_ttou.sa_handler = on_partner_ttou;
  take_ttou.sa_flags = SA_RESTART;
  sigaction(SIGTTOU, &take_ttou, nullptr);
  const pid_t partner = job.background ? fork() : -1;
  if (job.background && partner < 0) _exit(1);
  if (partner == 0) {
    close(to_partner[1]);
    close(from_partner[0]);
    run_partner(to_partner[0], from_partner[1]);
  }
  signal(SIGTTOU, SIG_IGN);
  close(to_partner[0]);
  close(from_partner[1]);
  if (partner > 0) setpgid(partner, child);
  if (job.background) tcsetattr(terminal, TCSANOW, &editing_mode);
  if (!job.background) tcsetpgrp(terminal, child);
  if (job.output_stopped) {  // once the ^S has taken effect: the terminal takes no more output
    eventually([&] {
      pollfd p{terminal, POLLOUT, 0};
      return poll(&p, 1, 0) == 0;
    });
  }
  if (write(go[1], "g", 1) != 1 || write(replies, &child, sizeof child) != sizeof child) _exit(1);
  bool reaped = false;  // its pid no longer its own, to be sent nothing
  for (char command; read(commands, &command, 1) == 1;) {
    int status = 0;
    if (command == 'w') {
      if (!reaped && waitpid(child, &status, WUNTRACED) == child) {
        reaped = !WIFSTOPPED(status);
      } else {
        status = -1;
      }
      if (WIFSTOPPED(status)) tcsetpgrp(terminal, getpgrp());
    } else if (command == 'f') {
      tcsetattr(terminal, TCSANOW, &job_mode);
      tcsetpgrp(terminal, child);
      kill(-child, SIGCONT);
    } else if (command == 't') {
      tcsetattr(terminal, TCSANOW, &editing_mode);
      tcsetpgrp(terminal, getpgrp());
    } else if (command == 'p') {
      if (write(to_partner[1], "?", 1) != 1 || read(from_partner[0], &status, sizeof status) != sizeof status)
        status = -1;
    }
    if (write(replies, &status, sizeof status) != sizeof status) break;
  }
  if (!reaped) kill(child, SIGKILL);
  if (partner > 0) kill(partner, SIGKILL);
  _exit(0);
}

Session::Session(const Job& job_to_run) {
  int terminal = -1;
  int commands[2];
  int replies[2];
  EXPECT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(pipe(commands), 0);
  EXPECT_EQ(pipe(replies), 0);
  if (job_to_run.terminal_mode != nullptr) {
    tcgetattr(terminal, &before);
    job_to_run.terminal_mode(before);
    tcsetattr(terminal, TCSANOW, &before);
  }
  tcgetattr(terminal, &before);
  const std::string typed = (job_to_run.output_stopped ? "\x13" : "") + job_to_run.typed_ahead;
  EXPECT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  shell = fork();
  if (shell == 0) run_shell(terminal, commands[0], replies[1], job_to_run);
  close(terminal);
  close(commands[0]);
  close(replies[1]);
  if (job_to_run.out_fd >= 0) close(job_to_run.out_fd);
  to_shell = commands[1];
  from_shell = replies[0];
  // Without a job, kill(job, ...) would signal every process there is.
  if (!reply(&job, sizeof job) || job <= 0) {
    job = -1;
    kill(shell, SIGKILL);
    end();
    throw std::runtime_error("the shell started no job");
  }
}

void Session::end() {
  if (job > 0 && !job_ended) kill(job, SIGKILL);  // the shell may be waiting for it
  close(to_shell);                                // the shell ends, and the job with it
  close(from_shell);
  waitpid(shell, nullptr, 0);
  close(master);
}

}  // namespace test
