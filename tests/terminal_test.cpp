// The pause on a real (pseudo-)terminal: no echo, a real wait, keys of
// several bytes consumed whole, and the terminal's mode left as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// openpty's header differs by system.
#if __has_include(<pty.h>)
#include <pty.h>
#elif __has_include(<util.h>)
#include <util.h>
#elif __has_include(<libutil.h>)
#include <libutil.h>
#endif

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "test_util.h"

namespace {

struct Session {
  int master = -1;
  pid_t child = -1;
  termios before{};
  std::string screen;  // everything the child wrote to the terminal

  // Starts `marvix file -p > out` with the pseudo-terminal as its
  // controlling terminal and standard error (and standard output too when
  // `out` is empty).
  Session(const std::string& file, const std::string& out) {
    int slave = -1;
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    tcgetattr(slave, &before);
    child = fork();
    if (child == 0) {
      close(master);
      // A new session with the pseudo-terminal as its controlling terminal
      // and standard streams.
      setsid();
      ioctl(slave, TIOCSCTTY, 0);
      for (int fd = 0; fd <= 2; ++fd) dup2(slave, fd);
      if (slave > 2) close(slave);
      if (!out.empty()) dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      execl(MARVIX_BINARY, MARVIX_BINARY, file.c_str(), "-p", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(slave);
  }
  ~Session() {
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    close(master);
  }

  // Reads what the child writes until the screen holds `count` prompts.
  bool wait_for_prompts(int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (prompts() < count) {
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
  int prompts() const {
    int n = 0;
    for (std::size_t at = 0; (at = screen.find("press a key...", at)) != std::string::npos; ++at) ++n;
    return n;
  }
  // The prompt is written just before the terminal is made raw; keys typed
  // in between would be echoed by the terminal itself, so wait for the mode.
  bool wait_for_raw_mode() {
    for (int i = 0; i < 200; ++i) {
      termios now{};
      tcgetattr(master, &now);
      if ((now.c_lflag & (ECHO | ICANON | ISIG)) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool still_waiting() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return waitpid(child, nullptr, WNOHANG) == 0;
  }
  void type(const char* keys) {
    ASSERT_EQ(write(master, keys, std::strlen(keys)), static_cast<ssize_t>(std::strlen(keys)));
  }
  int wait_exit() {
    int status = 0;
    waitpid(child, &status, 0);
    child = -1;
    return status;
  }
  bool mode_unchanged() const {
    termios now{};
    tcgetattr(master, &now);  // a master reports its terminal's mode
    return now.c_iflag == before.c_iflag && now.c_oflag == before.c_oflag && now.c_lflag == before.c_lflag &&
           now.c_cflag == before.c_cflag && std::memcmp(now.c_cc, before.c_cc, sizeof now.c_cc) == 0;
  }
};

std::string three_page_file() {
  // 70 rows + title, header, closing line = 73 lines: pauses after 23, 46, 69.
  return test::write_temp("pages.dbg", dbg::debug_file(std::vector<dbg::File>(70, {0, 1, "f"}), {}, {}));
}

}  // namespace

TEST(Terminal, PauseWaitsForOneKeyWithoutEcho) {
  const std::string out = test::temp_path("pages.out");
  Session s(three_page_file(), out);
  ASSERT_TRUE(s.wait_for_prompts(1));
  EXPECT_TRUE(s.still_waiting());
  ASSERT_TRUE(s.wait_for_raw_mode());

  const std::size_t seen = s.screen.size();
  s.type("z");
  ASSERT_TRUE(s.wait_for_prompts(2));
  EXPECT_EQ(s.screen.find('z', seen), std::string::npos);
  ASSERT_TRUE(s.wait_for_raw_mode());
  // An arrow key is three bytes; all of them go with this one wait, so the
  // third pause waits again.
  s.type("\x1b[A");
  ASSERT_TRUE(s.wait_for_prompts(3));
  EXPECT_TRUE(s.still_waiting());
  ASSERT_TRUE(s.wait_for_raw_mode());
  s.type("\x03");  // Ctrl+C is just a key here
  const int status = s.wait_exit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(s.mode_unchanged());
  const std::string listing = test::read_file(out);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 73 + 3 * 3);
  EXPECT_EQ(s.screen.find("[A", seen), std::string::npos);
}

TEST(Terminal, ASignalDuringTheWaitRestoresTheMode) {
  Session s(three_page_file(), test::temp_path("signal.out"));
  ASSERT_TRUE(s.wait_for_prompts(1));
  ASSERT_TRUE(s.still_waiting());
  kill(s.child, SIGTERM);
  const int status = s.wait_exit();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_TRUE(s.mode_unchanged());
}

TEST(Terminal, APageOnTheTerminalStandsAboveThePrompt) {
  Session s(three_page_file(), "");
  ASSERT_TRUE(s.wait_for_prompts(1));
  // Standard output is the terminal: the first 23 lines were flushed before
  // the prompt, the 24th waits behind it.
  const std::size_t prompt = s.screen.find("press a key...");
  EXPECT_LT(s.screen.find("20    1        DEFAULT      f"), prompt);
  EXPECT_EQ(s.screen.find("21    1"), std::string::npos);
  ASSERT_TRUE(s.wait_for_raw_mode());
  s.type(" ");
  ASSERT_TRUE(s.wait_for_prompts(2));
  EXPECT_LT(s.screen.find("21    1"), s.screen.rfind("press a key..."));
}
