// The pause on a real (pseudo-)terminal, each run started as a job by the
// shell in terminal_session.h.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "terminal_session.h"

namespace {

using test::ended_by;
using test::exited_with;
using test::Job;
using test::kPrompt;
using test::paused;
using test::Session;

class Terminal : public testing::TestWithParam<const char*> {
  void SetUp() override { test::g_preload = GetParam(); }
};
constexpr const char* kSystems[] = {"",
#ifdef MARVIX_HOSTILE_SYSTEM
                                    MARVIX_HOSTILE_SYSTEM
#endif
};
INSTANTIATE_TEST_SUITE_P(, Terminal, testing::ValuesIn(kSystems),
                         [](const auto& system) { return *system.param ? "hostile" : "native"; });

}  // namespace

TEST_P(Terminal, PauseWaitsForOneKeyWithoutEcho) {
  // Keys typed before the first prompt, as during the listing, do not end
  // the first pause: only a key pressed after the prompt does. Here more
  // lines than Linux queues for reading, as a paste: the rest, held back,
  // must go too.
  const std::string out = test::temp_path("pages.out");
  Job job = paused(out);
  for (int line = 0; line < 2000; ++line) job.typed_ahead += "ls\n";
  job.terminal_mode = [](termios& mode) { mode.c_cc[VSUSP] = _POSIX_VDISABLE; };  // stty susp undef
  Session s(job);
  ASSERT_TRUE(s.at_pause(1));  // on the terminal once, though standard error is there too
  EXPECT_EQ(test::line_count(test::read_file(out)), 23);

  // One key ends one pause: keys typed with it, and the rest of a cursor
  // key's bytes, are discarded, so each pause needs a key of its own. Ctrl+C
  // is a key like any other here, and so is Ctrl+Z, the suspend key no
  // more: neither stops nor ends the run.
  const std::size_t seen = s.screen.size();
  s.type("\x1azz");
  ASSERT_TRUE(s.at_pause(2));
  s.type("\x1b[A");
  ASSERT_TRUE(s.at_pause(3));
  EXPECT_EQ(test::line_count(test::read_file(out)), 69 + 2 * 3);
  s.type("\x03zz");
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
  EXPECT_TRUE(s.mode_unchanged());
  EXPECT_EQ(test::line_count(test::read_file(out)), 73 + 3 * 3);
  // What came with the last key is not left for the shell to read.
  EXPECT_EQ(s.unread(), 0);
  ASSERT_TRUE(s.settled());
  EXPECT_EQ(s.screen.find_first_of("z[", seen), std::string::npos);  // no key was echoed

  // With standard output on the terminal there is no pipe's reader for the
  // prompt to wait for, though the terminal counts a line typed ahead as
  // waiting to be read: asleep before any key, the run has its prompt out.
  Job on_screen = paused("");
  on_screen.typed_ahead = "ls\n";
  Session t(on_screen);
  ASSERT_TRUE(t.stop_when_asleep() && t.settled());
  ASSERT_EQ(t.occurrences(kPrompt), 1);
  // Continued from elsewhere, with no shell to put a mode back: the pause
  // goes on, raw, with no prompt again, and in the end the mode is back.
  kill(t.job, SIGCONT);
  for (int pause = 2; pause <= 3; ++pause) {
    t.type(" ");
    ASSERT_TRUE(t.at_pause(pause));
  }
  t.type(" ");
  EXPECT_TRUE(exited_with(t.wait_job(), 0));
  EXPECT_TRUE(t.mode_unchanged());
}

TEST_P(Terminal, EveryFatalSignalRestoresTheModeAndStillEndsTheRun) {
  std::vector<int> signals{SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1,  SIGUSR2,
                           SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGRTMIN, SIGRTMAX};
#ifdef SIGSTKFLT
  signals.insert(signals.begin(), SIGSTKFLT);
#endif
#ifdef MARVIX_EMULATED
  signals.pop_back();  // qemu-user cannot deliver the highest real-time signals
#endif
  for (const int sig : signals) {
    Session s(paused(test::temp_path("signal.out")));
    ASSERT_TRUE(s.at_pause(1));
    if (sig == SIGQUIT) {
      s.type("\x1c");  // the quit key
    } else {
      kill(s.job, sig);
    }
    EXPECT_TRUE(ended_by(s.wait_job(), sig)) << strsignal(sig);
    EXPECT_TRUE(s.mode_unchanged()) << strsignal(sig);
  }
  // Stopped at the pause, then sent what `kill %1` sends a stopped job.
  Session s(paused(test::temp_path("signal.out")));
  ASSERT_TRUE(s.at_pause(1));
  kill(s.job, SIGTSTP);
  ASSERT_TRUE(WIFSTOPPED(s.wait_job()));
  kill(s.job, SIGTERM);
  kill(s.job, SIGCONT);
  EXPECT_TRUE(ended_by(s.wait_job(), SIGTERM));
  EXPECT_TRUE(s.mode_unchanged());
}

TEST_P(Terminal, ThePauseKeepsWhatTheRunInherited) {
  // Ignored and blocked signals stay so: each pause still needs its key.
  // With standard error elsewhere (the manual's own example), the prompt
  // still stands on the terminal the key is read from. With standard input
  // closed the debug file takes descriptor 0, and under a limit of three
  // open files the terminal can be opened only once the file is closed.
  // With the terminal's signal keys off, the quit key is a key.
  Job job = paused(test::temp_path("nohup.out"));
  job.terminal_mode = [](termios& mode) { mode.c_lflag &= ~static_cast<tcflag_t>(ISIG); };
  job.ignored = {SIGHUP, SIGINT, SIGQUIT};
  job.blocked = {SIGTERM};
  job.err = "/dev/null";
  job.in = "-";
#if !defined(MARVIX_EMULATED) && !defined(MARVIX_SANITIZE)  // their runtimes need descriptors of their own
  job.open_files = 3;
#endif
  Session s(job);
  for (int pause = 1; pause <= 3; ++pause) {
    ASSERT_TRUE(s.at_pause(pause));
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) kill(s.job, sig);
    s.type("\x1c");
  }
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
  EXPECT_TRUE(s.mode_unchanged());
  EXPECT_EQ(s.screen.find("dump file"), std::string::npos);

  // Descriptors 3 to 1023, or to 1024, left open by the parent: the
  // terminal would open beyond what the wait can watch. The run does not
  // wait, but is held up by its second page, which the pipe cannot take;
  // the prompt goes to standard error and none into standard input; and
  // the terminal is closed again.
  std::vector<dbg::File> files(21, {0, 1, "f"});
  files.resize(31, {0, 1, std::string(8192, 'n')});
  for (const int last : {1023, 1024}) {
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const std::string in = test::write_temp("in", dbg::Bytes{});
    const std::string err = test::temp_path("err");
    Session c({.args = {test::write_temp("crowded.dbg", dbg::debug_file(files, {}, {})), "-p"},
               .in = in,
               .err = err,
               .out_fd = pipe_fds[1],
               .open_files = 1100,
               .inherited_up_to = last});
    ASSERT_TRUE(test::eventually(
        [&] { return test::read_file(err).ends_with(kPrompt) && test::process_state(c.job) == 'S'; }));
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(c.job) + "/fd"))
      EXPECT_NE(std::filesystem::read_symlink(fd.path()), "/dev/tty") << last;
    close(pipe_fds[0]);
    EXPECT_TRUE(exited_with(c.wait_job(), 1)) << last;
    EXPECT_EQ(test::read_file(err).find(kPrompt), test::read_file(err).size() - std::strlen(kPrompt)) << last;
    EXPECT_EQ(test::read_file(in), "") << last;
    ASSERT_TRUE(c.settled());
    EXPECT_EQ(c.occurrences(kPrompt), 0);
  }
}

TEST_P(Terminal, JobControlDuringThePause) {
  // Started in the background, the run stops at the pause without touching
  // the terminal, which is in the shell's editing mode, and waits once it is
  // brought to the foreground; in the end the terminal has the mode it was
  // given for the job, not the editing mode. SIGCONT, which continues a
  // process whatever its mask, comes held.
  const std::string out = test::temp_path("jobs.out");
  Job job = paused(out);
  job.background = true;
  job.blocked = {SIGCONT};
  // stty -ixon -icrnl, as many have it: the raw mode differs from the
  // shell's in lflag and c_cc alone.
  job.terminal_mode = [](termios& mode) { mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL); };
  Session s(job);
  const termios editing = s.mode();
  int status = s.wait_job();
  ASSERT_TRUE(WIFSTOPPED(status));
  EXPECT_TRUE(s.mode_is(editing));
  s.foreground();
  ASSERT_TRUE(s.at_pause(1));
  EXPECT_EQ(test::line_count(test::read_file(out)), 23);
  s.type("#");

  // Stopped during the second pause by the suspend key and by each stop
  // signal, as kill, a debugger or a shell sends them: the mode goes back
  // first (but for SIGSTOP, which no process sees); after fg, where the
  // shell has put its own mode back, raw mode and the prompt return, and
  // one key ends the pause.
  int prompts = 2;
  ASSERT_TRUE(s.at_pause(prompts));
  const int stops[] = {SIGTSTP, SIGTTIN, SIGTTOU, SIGSTOP, SIGTSTP};
  for (std::size_t stop = 0; stop < std::size(stops); ++stop) {
    if (stop == 0) {
      s.type("\x1a");  // the suspend key
    } else {
      kill(s.job, stops[stop]);
    }
    status = s.wait_job();
    ASSERT_TRUE(WIFSTOPPED(status)) << strsignal(stops[stop]);
    EXPECT_EQ(WSTOPSIG(status), stops[stop]);
    EXPECT_TRUE(stops[stop] == SIGSTOP || s.mode_unchanged()) << strsignal(stops[stop]);
    if (stop == 4) {  // bg first: the mode stays, and the wait stops the run again
      kill(s.job, SIGCONT);
      EXPECT_TRUE(WIFSTOPPED(s.wait_job()) && s.mode_unchanged());
    }
    s.foreground();
    ASSERT_TRUE(s.at_pause(++prompts)) << strsignal(stops[stop]);
  }
  // The terminal given to another process group while the wait waits: the
  // key can no longer be read, and the wait ends. In the background, the
  // next pause stops the run.
  EXPECT_EQ(s.command('t'), 0);
  s.type("%");
  EXPECT_TRUE(WIFSTOPPED(s.wait_job()));
  s.foreground();
  ASSERT_TRUE(s.at_pause(++prompts));
  s.type("&");
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
  EXPECT_TRUE(s.mode_unchanged());
  ASSERT_TRUE(s.settled());
  EXPECT_EQ(s.screen.find_first_of("#%&"), std::string::npos);  // no key was echoed
  EXPECT_EQ(test::line_count(test::read_file(out)), 73 + 3 * 3);
}

TEST_P(Terminal, AStopAfterAPauseLeavesTheModeAlone) {
  // The rows after the pause fill the terminal while the test does not
  // read it, and the run waits to write: stopped there and brought back,
  // the terminal keeps the shell's mode, and a fatal signal leaves alone a
  // mode set since.
  const std::vector<dbg::File> files(40, {0, 1, std::string(8192, 'n')});
  Session s({.args = {test::write_temp("wide.dbg", dbg::debug_file(files, {}, {})), "-p"}});
  ASSERT_TRUE(s.at_pause(1));
  s.type(" ");
  ASSERT_TRUE(s.wait_for("\n23    1 "));  // the wait is over
  kill(s.job, SIGTSTP);
  ASSERT_TRUE(WIFSTOPPED(s.wait_job()));
  s.foreground();
  EXPECT_TRUE(s.mode_unchanged());
  termios changed = s.mode();
  changed.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(s.master, TCSANOW, &changed);
  kill(s.job, SIGTERM);
  EXPECT_TRUE(WIFSIGNALED(s.wait_job()));
  EXPECT_TRUE(s.mode_is(changed));
}

TEST_P(Terminal, AStopThatCannotComeLeavesThePauseRaw) {
  // Leading its own session, the run is an orphaned process group: the
  // kernel discards SIGTSTP, and no SIGCONT follows. The pause goes on, raw
  // again, with no prompt again, and one key, not echoed, ends it.
  Job job = paused(test::temp_path("orphan.out"));
  job.leads_session = true;
  job.ignored = {SIGHUP};
  Session s(job);
  ASSERT_TRUE(s.at_pause(1));
  kill(s.job, SIGTSTP);
  ASSERT_TRUE(test::eventually([&] { return !test::signal_pending(s.job, SIGTSTP) && s.waiting(); }));
  const std::size_t seen = s.screen.size();
  s.type("z");
  ASSERT_TRUE(s.at_pause(2));
  EXPECT_EQ(s.screen.find('z', seen), std::string::npos);
  // The terminal hangs up, its hang-up signal ignored: the pause ends, the
  // next one does not wait on the dead terminal, and the run completes.
  close(s.master);
  s.master = -1;
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
}

TEST_P(Terminal, AHangUpEndsThePausesAndTheListingGoesOn) {
  // The run and its shell outlive the hang-up, as under nohup: a terminal
  // that can no longer be asked whose it is neither stops the run nor keeps
  // it waiting, and the listing is written whole.
  const std::string out = test::temp_path("hangup.out");
  Job job = paused(out);
  job.ignored = {SIGHUP};
  Session s(job);
  ASSERT_TRUE(s.at_pause(1));
  s.type(" ");
  close(s.master);
  s.master = -1;
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
  EXPECT_EQ(test::line_count(test::read_file(out)), 73 + 3 * 3);
  if (*test::g_preload == '\0') return;

  // Where pselect fails for good, no pause waits, nor spins.
  job.env = {"HOSTILE_PSELECT_FAILS=1"};
  Session failing(job);
  EXPECT_TRUE(exited_with(failing.wait_job(), 0));
  EXPECT_EQ(test::line_count(test::read_file(out)), 73 + 3 * 3);
  EXPECT_TRUE(failing.mode_unchanged());
  // A terminal that takes no output: no prompt, and each pause, asleep at
  // last, waits for its key.
  job.env = {"HOSTILE_TERMINAL_TAKES_NOTHING=1"};
  Session mute(job);
  for (int pause = 1; pause <= 3; ++pause) {
    ASSERT_TRUE(test::eventually([&] {
      return test::line_count(test::read_file(out)) == 23 * pause + 3 * (pause - 1) && mute.waiting();
    }));
    mute.type(" ");
  }
  EXPECT_TRUE(exited_with(mute.wait_job(), 0));
  EXPECT_TRUE(mute.mode_unchanged());
}

TEST_P(Terminal, ABackgroundRunLeavesTheTerminalAlone) {
  // With SIGTTOU ignored or blocked nothing stops a run in the background
  // from changing the terminal's mode; it must not, so it does not wait,
  // and sends its process group nothing that would stop the rest of it,
  // nor discards what was typed for the shell. Otherwise it stops, and
  // what `kill %1` and timeout send ends it.
  for (const int inherited : {0, 1, 2}) {  // SIGTTOU ignored, blocked, neither
    Job job = paused(test::temp_path("background.out"));
    job.background = true;
    if (inherited < 2) (inherited == 0 ? job.ignored : job.blocked) = {SIGTTOU};
    job.typed_ahead = "ls\n";
    Session s(job);
    const termios editing = s.mode();
    int status = s.wait_job();
    if (inherited == 2) {
      EXPECT_TRUE(WIFSTOPPED(status));
      kill(s.job, SIGTERM);
      kill(s.job, SIGCONT);
      status = s.wait_job();
    }
    EXPECT_TRUE(inherited < 2 ? exited_with(status, 0) : ended_by(status, SIGTERM)) << inherited;
    EXPECT_EQ(s.command('p'), inherited == 2 ? 1 : 0) << inherited;
    EXPECT_TRUE(s.mode_is(editing));
    EXPECT_EQ(s.unread(), 3) << inherited;
  }

  // A pause that gave up in the background, its prompt held back by a
  // terminal whose output is suspended (^S), ends after the run has been
  // brought to the foreground and the output resumed (^Q): it leaves the
  // mode alone, as the pauses that do wait then put it back.
  const std::string out = test::temp_path("suspended.out");
  Job job = paused(out);
  job.background = true;
  job.ignored = {SIGTTOU};
  job.output_stopped = true;
  job.err = "/dev/null";  // only the prompt waits for the terminal
  Session s(job);
  ASSERT_TRUE(test::eventually([&] { return test::line_count(test::read_file(out)) == 23; }));
  ASSERT_TRUE(test::eventually([&] { return test::process_state(s.job) == 'S'; }));  // at its prompt
  s.foreground();
  s.type("\x11");
  ASSERT_TRUE(s.at_pause(2));
  // Output held again: the third prompt cannot go out when its key comes
  // (typed while the run is stopped, so that it is read only after), nor
  // when a SIGCONT follows that finds the mode changed by another program
  // (stty). The mode goes back all the same.
  s.hold_output(true);
  s.type(" ");
  ASSERT_TRUE(
      test::eventually([&] { return test::line_count(test::read_file(out)) == 69 + 2 * 3 && s.waiting(); }));
  ASSERT_TRUE(s.stop_when_asleep());
  s.type(" ");
  ASSERT_TRUE(test::eventually([&] { return s.unread() == 1; }));
  kill(s.job, SIGCONT);
  ASSERT_TRUE(test::eventually([&] { return s.unread() == 0; }));
  ASSERT_TRUE(s.stop_when_asleep());
  termios changed = s.mode();
  changed.c_lflag |= ECHO;
  tcsetattr(s.master, TCSANOW, &changed);
  kill(s.job, SIGCONT);
  s.hold_output(false);
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
  EXPECT_TRUE(s.mode_unchanged());
}

TEST_P(Terminal, APagePipedElsewhereGoesOutBeforeTheWait) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  Job job = paused("");
  job.out_fd = pipe_fds[1];
  Session s(job);
  // The page stands in the pipe, and the prompt waits until its reader has
  // taken it: stopped while it waits, the run has shown none.
  pollfd page_ready{pipe_fds[0], POLLIN, 0};
  ASSERT_EQ(poll(&page_ready, 1, 20000), 1);
  ASSERT_TRUE(s.stop_when_asleep() && s.settled());
  EXPECT_EQ(s.occurrences(kPrompt), 0);
  kill(s.job, SIGCONT);
  std::string page;  // as much as comes before the wait, which may come in pieces
  for (pollfd ready{pipe_fds[0], POLLIN, 0}; test::line_count(page) < 23 && poll(&ready, 1, 20000) == 1;) {
    char piece[4096];
    const ssize_t got = read(pipe_fds[0], piece, sizeof piece);
    if (got <= 0) break;
    page.append(piece, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(test::line_count(page), 23);
  EXPECT_NE(page.find("\n19    1        DEFAULT      f\n"), std::string::npos);
  ASSERT_TRUE(s.at_pause(1));  // once the reader has taken the page
  // A reader that takes nothing holds the next prompt a second at most.
  s.type(" ");
  ASSERT_TRUE(s.at_pause(2));

  // The reader goes away with the next page unread, as head -c 100 does:
  // the run ends there, quietly, with no prompt. (Stopped, it cannot wait
  // out the bound before it sees the reader gone; the test must stop it
  // within that second, which a machine loaded past reason may not.)
  int page_two = 0;
  ioctl(pipe_fds[0], FIONREAD, &page_two);
  s.type(" ");
  ASSERT_TRUE(test::eventually([&] {
    int queued = 0;
    return ioctl(pipe_fds[0], FIONREAD, &queued) == 0 && queued > page_two;
  }));
  ASSERT_TRUE(s.stop_when_asleep());
  ASSERT_TRUE(s.settled());
  ASSERT_EQ(s.occurrences(kPrompt), 2) << "the run was not stopped within its second";
  close(pipe_fds[0]);
  kill(s.job, SIGCONT);
  EXPECT_TRUE(exited_with(s.wait_job(), 1));
  ASSERT_TRUE(s.settled());
  EXPECT_EQ(s.occurrences(kPrompt), 2);
  EXPECT_EQ(s.screen.find("error"), std::string::npos);
  EXPECT_TRUE(s.mode_unchanged());
}

TEST_P(Terminal, ClosedStandardStreamsStayClosed) {
  // Nothing reaches the terminal through a closed stream, although the run
  // opens the terminal for the pause.
  Session s(paused("-"));
  EXPECT_TRUE(exited_with(s.wait_job(), 1));
  ASSERT_TRUE(s.settled());
  EXPECT_NE(s.screen.find("error: could not write output."), std::string::npos);
  EXPECT_EQ(s.screen.find("DEFAULT"), std::string::npos);
  EXPECT_EQ(s.screen.find("press a key..."), std::string::npos);
  Job job = paused("-");
  job.err = "-";
  Session quiet(job);
  EXPECT_TRUE(exited_with(quiet.wait_job(), 1));
  ASSERT_TRUE(quiet.settled());
  EXPECT_EQ(quiet.screen.find("error"), std::string::npos);
}

TEST_P(Terminal, ControlBytesFromOutsideAreShownSafely) {
  // C0 controls, and C1 controls as bytes and in UTF-8 (CSI, OSC), in the
  // file name and in names; UTF-8 from U+00A0 up as it stands, although
  // one of its continuation bytes is 0x9B.
  const std::string file = "x\x1b[1m\x9b" + std::string("2J.dbg");
  const std::string class_name = "c\x1b]0;t\x07\xc2\x9d" + std::string("0;t");
  const std::string name = test::temp_path(file);
  test::write_temp(file, dbg::debug_file({}, {{0, dbg::NO_CLASS, 0, 0, 0, class_name}},
                                         {{1, 0, 0, "a \x7f\x01\x1f\x9b\xc2\x9b\xc4\x9b\xc3\xa9"}}));
  Session s({.args = {name}});
  ASSERT_TRUE(s.wait_for("dump file: \"" + test::temp_path("x^[[1mM-^[2J.dbg") + "\""));
  ASSERT_TRUE(s.wait_for("c^[]0;t^GM-BM-^]0;t.a ^?^A^_M-^[M-BM-^[\xc4\x9b\xc3\xa9"));
  EXPECT_TRUE(exited_with(s.wait_job(), 0));
  ASSERT_TRUE(s.settled());
  EXPECT_EQ(s.screen.find_first_of("\x1b\x9d"), std::string::npos);
  EXPECT_EQ(s.screen.find('\x9b'), s.screen.find("\xc4\x9b") + 1);
  EXPECT_EQ(s.occurrences("\x9b"), 1);
}
