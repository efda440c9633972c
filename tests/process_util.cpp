#include "process_util.h"

#include <fcntl.h>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace test {

namespace {

// A child under a memory budget must ask the system for what it allocates,
// or the budget would not hold. So the whole test program keeps no large
// free memory to allocate from: one malloc arena (a thread's arena, which
// the image tests start, keeps address space of its own), and large blocks
// always mapped and unmapped, never left in the heap once freed (glibc's
// threshold would otherwise rise with each large block freed). Small freed
// blocks remain, so a budget is a little looser for small allocations; none
// settles a budget here.
[[maybe_unused]] const bool g_no_spare_heap = [] {
#ifdef __GLIBC__
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 128 << 10);
#endif
  return true;
}();

// Reads two non-blocking pipes a little at a time until both end.
void drain_slowly(int out_fd, int err_fd, Run& run) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* texts[2] = {&run.out, &run.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        texts[i]->append(chunk, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    usleep(200);
  }
}

// Waits for the child and notes how it ended.
void wait_for(pid_t child, Run& run) {
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
}

}  // namespace

Run run_marvix(const std::vector<std::string>& args, const RunOptions& options) {
  static int serial = 0;
  const std::string tag = std::to_string(getpid()) + "_" + std::to_string(++serial);
  const std::string out_path = options.stdout_path.empty() ? temp_path("out" + tag) : options.stdout_path;
  const std::string err_path = temp_path("err" + tag);
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  const bool piped = options.slow_nonblocking_pipes || options.stderr_to_stdout;
  if (piped && (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)) return {};

  const pid_t child = fork();
  if (child == 0) {
    setsid();  // no controlling terminal: a pause must not wait for a key
    use_streams(open_stream(options.stdin_path.empty() ? "/dev/null" : options.stdin_path, 0),
                open_stream(out_path, 1), open_stream(err_path, 2));
    if (options.close_stderr) close(2);
    for (const std::string& setting : options.env) putenv(const_cast<char*>(setting.c_str()));
    if (piped) {
      dup2(out_pipe[1], 1);
      dup2(options.stderr_to_stdout ? out_pipe[1] : err_pipe[1], 2);
    }
    if (options.slow_nonblocking_pipes)
      for (const int fd : {1, 2}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (options.cpu_seconds > 0) {
      const rlimit cpu{options.cpu_seconds, options.cpu_seconds};
      setrlimit(RLIMIT_CPU, &cpu);
    }
    if (options.file_size_limit >= 0) {
      const auto bytes = static_cast<rlim_t>(options.file_size_limit);
      const rlimit file_size{bytes, bytes};
      setrlimit(RLIMIT_FSIZE, &file_size);
    }
    exec_marvix(args);
  }
  Run run;
  run.command = "marvix";
  for (const std::string& a : args) run.command += " '" + a + "'";
  for (const std::string& setting : options.env) run.command = setting + " " + run.command;
  if (piped) {
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (options.unread_until_asleep) {
      eventually([&] {
        const char state = process_state(child);
        return state == 'S' || state == 'Z';
      });
    }
    drain_slowly(out_pipe[0], err_pipe[0], run);
  }
  wait_for(child, run);
  if (piped) return run;
  if (options.stdout_path.empty()) run.out = read_file(out_path);
  run.err = read_file(err_path);
  return run;
}

int open_stream(const std::string& path, int fd) {
  if (path == "-") return -1;
  return open(path.c_str(), fd == 0 ? O_RDWR : O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

void use_streams(int in, int out, int err) {
  const int from[] = {in, out, err};
  for (int fd = 0; fd <= 2; ++fd) from[fd] < 0 ? close(fd) : dup2(from[fd], fd);
}

void close_all_but(std::initializer_list<int> keep) {
  for (int fd = 3; fd < 1024; ++fd)
    if (std::find(keep.begin(), keep.end(), fd) == keep.end()) close(fd);
}

void exec_marvix(const std::vector<std::string>& args, int last_open) {
  for (int fd = last_open + 1; fd < 1024; ++fd) close(fd);
  std::vector<char*> argv{const_cast<char*>(MARVIX_BINARY)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(MARVIX_BINARY, argv.data());
  _exit(127);
}

char process_state(pid_t pid) {
  // The state follows the command's name, which is in parentheses and may
  // hold anything, ") " included.
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = stat.rfind(") ");
  return end == std::string::npos || end + 2 >= stat.size() ? 0 : stat[end + 2];
}

bool signal_pending(pid_t pid, int sig) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  unsigned long long pending = 0;
  for (const std::string_view field : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
    const std::size_t at = status.find(field);
    if (at != std::string::npos) pending |= std::stoull(status.substr(at + field.size()), nullptr, 16);
  }
  return (pending >> (sig - 1) & 1) != 0;
}

pid_t fork_with_memory_budget(std::size_t budget, const std::string& out, const std::string& err) {
  const pid_t child = fork();
  if (child != 0) return child;
  dup2(open_stream(out, 1), 1);
  dup2(open_stream(err, 2), 2);
#ifdef __GLIBC__
  // What earlier tests freed is given back before the address space is
  // counted, or a later free could give it back and widen the budget.
  malloc_trim(0);
#endif
  std::size_t pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%zu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages == 0) _exit(125);
  const std::size_t limit = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + budget;
  const rlimit address_space{limit, limit};
  if (setrlimit(RLIMIT_AS, &address_space) != 0) _exit(125);
  return 0;
}

Run collect_child(pid_t child, const std::string& out, const std::string& err) {
  Run run;
  wait_for(child, run);
  run.out = read_file(out);
  run.err = read_file(err);
  return run;
}

bool memory_budget_enforced() {
  // Address space counts, even where nothing is touched: 64 MiB must not
  // fit a budget of 1 MiB.
  const Run probe = run_with_memory_budget(std::size_t{1} << 20, "a 64 MiB mapping", [] {
    void* more = mmap(nullptr, std::size_t{64} << 20, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return more == MAP_FAILED ? 0 : 1;
  });
  return probe.status == 0;
}

}  // namespace test
