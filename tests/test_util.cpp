#include "test_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace test {

namespace {

// In-process listings pause with no key to wait for: the test process has
// no terminal (or console) of its own.
[[maybe_unused]] const bool g_no_terminal = [] {
#ifdef _WIN32
  FreeConsole();
#else
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
  if (tty >= 0) ioctl(tty, TIOCNOTTY);
  if (tty >= 0) close(tty);
#endif
  return true;
}();

const std::string& temp_dir() {
  static const std::string dir = [] {
    namespace fs = std::filesystem;
    std::random_device random;
    fs::path path;
    do {
      path = fs::temp_directory_path() / ("marvix_test." + std::to_string(random()));
    } while (!fs::create_directory(path));
    static fs::path cleanup;
    cleanup = path;
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(cleanup, ignored);
    });
    return path.string();
  }();
  return dir;
}

}  // namespace

std::string temp_path(const std::string& name) { return temp_dir() + "/" + name; }

std::string write_temp(const std::string& name, const dbg::Bytes& bytes) {
  const std::string path = temp_path(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Dump dump(const dbg::Bytes& bytes, bool pause, bool crlf, std::size_t buffer_size) {
  marvix::DebugImage image;
  if (marvix::image_from_bytes(bytes, image) != marvix::LoadStatus::ok)
    return {marvix::Outcome::out_of_memory};
  FILE* sink = std::tmpfile();
  marvix::Listing listing;
  listing.out.fd = fileno(sink);
  listing.out.crlf = crlf;
  listing.pager.pause = pause;
  // Without a key to wait for, the prompts go to standard error: kept
  // for the test, out of the log.
  testing::internal::CaptureStderr();
  const marvix::DumpResult result = marvix::dump_image(image, listing, buffer_size);
  const std::string prompts = testing::internal::GetCapturedStderr();
  std::string out;
  std::rewind(sink);
  char chunk[65536];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, sink)) > 0;) out.append(chunk, got);
  std::fclose(sink);
  return {result.outcome, out, prompts};
}

testing::AssertionResult SameText(const char* actual_name, const char* expected_name,
                                  const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  // The line where they part, at most 80 bytes either side of the place.
  const std::size_t line_start = at == 0 ? 0 : expected.rfind('\n', at - 1) + 1;  // npos + 1 is 0
  const std::size_t from = std::max(line_start, at < 80 ? 0 : at - 80);
  const auto line = [&](const std::string& text) {
    return testing::PrintToString(text.substr(from, std::min(text.find('\n', at), at + 80) - from));
  };
  return testing::AssertionFailure() << actual_name << " differs from " << expected_name << " in line "
                                     << 1 + std::count(expected.begin(),
                                                       expected.begin() + static_cast<long>(at), '\n')
                                     << " (" << actual.size() << " bytes, expected " << expected.size()
                                     << "):\n  actual:   " << line(actual)
                                     << "\n  expected: " << line(expected);
}

std::string banner() {
  return "marvix v1.0: dump debug-files produced by tolvane v1.0 (08/05/2001)\n"
         "homepage: " MARVIX_HOMEPAGE "\n";
}

dbg::Bytes worked_example() {
  return dbg::debug_file(
      {{0x00, 120, "boot.asm"}, {0x42, 35, "defs.inc"}},
      {{0x00, dbg::NO_CLASS, 0x8000, 0x100, 0x1100, "text"}, {0x01, 0, 0x8010, 0x110, 0x140, "init"}},
      {{1, 1, 0x8010, "entry"}, {4, dbg::NO_CLASS, 0, "total"}, {2, 7, 0x20, "far"}});
}

const char* const kWorkedListing =
    "[file]\n"
    "item  lines    type         name\n"
    "0     120      DEFAULT      boot.asm\n"
    "1     35       INCLUDE      (defs.inc)\n"
    "\n"
    "[class]\n"
    "item  type     start        size         name\n"
    "0     SEGMENT  0x8000       0x1000       text\n"
    "1     PROC     0x8010       0x30         text.init\n"
    "\n"
    "[label]\n"
    "item  type         value        name\n"
    "0     CODE         0x8010       text.init.entry\n"
    "1     DW           0            total\n"
    "2     DB           0x20         ...far\n"
    "\n";

}  // namespace test
