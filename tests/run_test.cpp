// End-to-end: the built binary, its exact console text, standard output and
// exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <sstream>

#include "process_util.h"

using test::banner;
using test::run_marvix;

namespace {

const std::string kSyntax = "syntax: marvix file.dbg [-p]\n";

std::string dump_line(const std::string& name) { return "dump file: \"" + name + "\"\n"; }

void expect_run(const test::Run& run, int status, const std::string& messages,
                const std::string& listing = "") {
  SCOPED_TRACE(run.command);
  EXPECT_EQ(run.status, status);
  EXPECT_TEXT(run.err, messages);
  EXPECT_TEXT(run.out, listing);
}

void expect_failure(const test::Run& run, const std::string& messages) { expect_run(run, 1, messages); }

std::string sample_listing() { return test::read_file(MARVIX_SAMPLE_LISTING); }

}  // namespace

TEST(Run, ArgumentRules) {
  const std::string f = test::write_temp("args.dbg", test::worked_example());
  expect_failure(run_marvix({}), banner() + kSyntax);
  expect_failure(run_marvix({f, "-x"}), banner() + "unknown parameters.\n" + kSyntax);
  expect_failure(run_marvix({f, "-pp"}), banner() + "unknown parameters.\n" + kSyntax);
  expect_failure(run_marvix({"-p", f}), banner() + "unknown parameters.\n" + kSyntax);
  expect_failure(run_marvix({f, "-p", "x"}), banner() + kSyntax);
}

TEST(Run, WorkedExampleAndSample) {
  const std::string f = test::write_temp("worked.dbg", test::worked_example());
  for (const std::vector<std::string>& args : {std::vector<std::string>{f}, {f, "-p"}, {f, "-P"}})
    expect_run(run_marvix(args), 0, banner() + dump_line(f), test::kWorkedListing);  // 16 lines: no pause
  expect_run(run_marvix({MARVIX_SAMPLE}), 0, banner() + dump_line(MARVIX_SAMPLE), sample_listing());
  // Devices and pipes are read like files.
  expect_run(run_marvix({"/dev/stdin"}, {.stdin_path = f}), 0, banner() + dump_line("/dev/stdin"),
             test::kWorkedListing);

  // Control bytes, C1 controls included, reach files and pipes as they stand.
  const std::string c =
      test::write_temp("control.dbg", dbg::debug_file({{0, 1, "\x1b[31mred\x07\x9b\xc2\x9b"}}, {}, {}));
  EXPECT_NE(run_marvix({c}).out.find("DEFAULT      \x1b[31mred\x07\x9b\xc2\x9b\n"), std::string::npos);
}

TEST(Run, EveryFailureHasItsMessageAndStatusOne) {
  const std::string missing = test::temp_path("no such file.dbg");
  expect_failure(run_marvix({missing}), banner() + dump_line(missing) + "error: could not open file\n");
  expect_failure(run_marvix({"/tmp"}), banner() + dump_line("/tmp") + "error: could not open file\n");
  // Closed, standard input names no file, whatever is parked on the closed
  // standard output.
  expect_failure(run_marvix({"/dev/stdin"}, {.stdin_path = "-", .stdout_path = "-"}),
                 banner() + dump_line("/dev/stdin") + "error: could not open file\n");

  const auto with = [](const std::string& name, const std::string& text) {
    return test::write_temp(name, dbg::Bytes(text.begin(), text.end()));
  };
  const std::string magic(dbg::kMagic);
  const std::string wrong = "error: wrong file type or version.\n";
  for (const std::string& f :
       {with("empty.dbg", ""), with("v101.dbg", "[tolvane|dbg|v1.01]\r\n\x1b[end]"),
        with("nocr.dbg", "[tolvane|dbg|v1.00]\n\x1b[end]"), with("short.dbg", magic.substr(0, 21))}) {
    expect_failure(run_marvix({f}), banner() + dump_line(f) + wrong);
  }
  std::string f = with("magic.dbg", magic);
  expect_failure(run_marvix({f}), banner() + dump_line(f) + "error: undefined entry (), abort.\n");
  f = with("case.dbg", magic + "[File]");
  expect_failure(run_marvix({f}), banner() + dump_line(f) + "error: undefined entry ([File]), abort.\n");

  dbg::Bytes twice;
  dbg::put(twice, dbg::kMagic);
  dbg::put_classes(twice, {{}});
  dbg::put_classes(twice, {{}});
  f = test::write_temp("twice.dbg", twice);
  expect_failure(run_marvix({f}), banner() + dump_line(f) + "error: undefined entry ([class]\x01), abort.\n");

  f = with("huge.dbg", magic + "[label]" + std::string("\xFF\xFF\xFF\xFF") + "[end]");
  expect_failure(run_marvix({f}), banner() + dump_line(f) + "error: unexpected end of file.\n");
  const dbg::Bytes whole = test::worked_example();
  f = test::write_temp("cut.dbg", dbg::Bytes(whole.begin(), whole.end() - 8));  // inside the last name list
  expect_failure(run_marvix({f}), banner() + dump_line(f) + "error: unexpected end of file.\n");
  // Endless devices stop at the size limit, and a file of 3 GiB is refused
  // from its size, also where file offsets were once 32 bits. Under a
  // file-size limit (ulimit -f) that file cannot be made, and is left out.
  std::vector<std::string> too_large{"/dev/zero", "/dev/urandom"};
  f = test::temp_path("three.dbg");
  const int fd = open(f.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const auto disposition = std::signal(SIGXFSZ, SIG_IGN);  // the limit then fails the call, not the test
  if (ftruncate(fd, off_t{3} << 30) == 0) {                // sparse
    too_large.push_back(f);
  } else {
    EXPECT_EQ(errno, EFBIG);
  }
  std::signal(SIGXFSZ, disposition);
  close(fd);
  for (const std::string& large : too_large) {
    expect_failure(run_marvix({large}), banner() + dump_line(large) + "error: out of memory.\n");
  }
}

TEST(Run, OutputThatCannotBeWritten) {
  const std::string f = test::write_temp("out.dbg", test::worked_example());
  const std::string failed = banner() + dump_line(f) + "error: could not write output.\n";
  for (const char* out : {"/dev/full", "-"}) {
    expect_failure(run_marvix({f}, {.stdout_path = out}), failed);
    expect_failure(run_marvix({f, "-p"}, {.stdout_path = out}), failed);
  }
#ifdef MARVIX_HOSTILE_SYSTEM
  // A device that takes nothing and reports no error.
  expect_failure(run_marvix({f}, {.env = {test::kHostileSystem, "HOSTILE_STDOUT_TAKES_NOTHING=1"}}), failed);
#endif
  // Standard error closed: messages are dropped, the listing is unaffected.
  expect_run(run_marvix({f}, {.close_stderr = true}), 0, "", test::kWorkedListing);
  // A file-size limit (ulimit -f) refuses writes past it, and never ends the
  // run: on standard output that is an output error, and the file keeps
  // what fitted; on standard error the messages are dropped, and the
  // listing is whole.
  const std::string paging = test::read_file(MARVIX_PAGING_LISTING);
  expect_run(run_marvix({MARVIX_PAGING_SAMPLE}, {.file_size_limit = 1024}), 1,
             banner() + dump_line(MARVIX_PAGING_SAMPLE) + "error: could not write output.\n",
             paging.substr(0, 1024));
  expect_run(run_marvix({MARVIX_PAGING_SAMPLE, "-p"}, {.stdout_path = "/dev/null", .file_size_limit = 0}), 0,
             "");
}

TEST(Run, PauseWithoutATerminalStillPromptsAndGoesOn) {
  // Both streams into one pipe (2>&1 | tee, as in logs of CI and cron):
  // each prompt stands right after its 23rd line.
  const test::Run run = run_marvix({MARVIX_PAGING_SAMPLE, "-p"}, {.stderr_to_stdout = true});
  EXPECT_EQ(run.status, 0);
  std::string expected = banner() + dump_line(MARVIX_PAGING_SAMPLE);
  std::istringstream listing(test::read_file(MARVIX_PAGING_LISTING));
  int lines = 0;
  for (std::string line; std::getline(listing, line);) {
    expected += line + "\n";
    if (++lines % 23 == 0) expected += "\npress a key...\n\n\n";
  }
  EXPECT_EQ(lines, 69);
  EXPECT_TEXT(run.out, expected);
}

TEST(Run, OutOfMemoryEndsWithItsMessageAndWhatOnlySpeedsUpFallsBack) {
#ifdef MARVIX_SANITIZE
  GTEST_SKIP() << "no memory budget fits the address sanitizer's shadow memory";
#endif
  if (!test::memory_budget_enforced()) GTEST_SKIP() << "no address-space limit is enforced here (qemu-user)";
  // 600,000 classes: the image is 39 MB, and walking class paths needs 16
  // bytes a class, 9.6 MB, which a budget of 3 MiB over the file cannot give.
  std::vector<dbg::Class> many(600000, {0, dbg::NO_CLASS, 0, 0, 0, ""});
  const dbg::Bytes big = dbg::debug_file({}, many, {});
  const std::string f = test::write_temp("many.dbg", big);
  const char* argv[] = {"marvix", f.c_str()};
  test::Run run = test::run_with_memory_budget(big.size() + (3 << 20), "marvix many.dbg",
                                               [&] { return marvix::run(2, argv); });
  expect_failure(run, banner() + dump_line(f) + "error: out of memory.\n");

  // Through a pipe, the image grows as data comes, until no more room can be
  // had: out of memory, never a cut listing.
  run = test::run_with_memory_budget(std::size_t{1} << 20, "marvix /dev/stdin < many.dbg", [&] {
    dup2(fileno(popen(("cat '" + f + "'").c_str(), "r")), 0);
    const char* argv_pipe[] = {"marvix", "/dev/stdin"};
    return marvix::run(2, argv_pipe);
  });
  expect_failure(run, banner() + dump_line("/dev/stdin") + "error: out of memory.\n");
  // As it grows, realloc holds its old memory at most while it moves it: a
  // 20 MiB file through a pipe lists with room for twice its size.
  const std::vector<dbg::Label> labels_20mib(380000, {1, dbg::NO_CLASS, 0, "label"});
  const std::string p = test::write_temp("pipe20.dbg", dbg::debug_file({}, {}, labels_20mib));
  run = test::run_with_memory_budget(std::size_t{40} << 20, "marvix /dev/stdin < pipe20.dbg", [&] {
    dup2(fileno(popen(("cat '" + p + "'").c_str(), "r")), 0);
    const char* argv_pipe[] = {"marvix", "/dev/stdin"};
    return marvix::run(2, argv_pipe);
  });
  EXPECT_EQ(run.status, 0) << run.command;
  EXPECT_TEXT(run.err, banner() + dump_line("/dev/stdin"));

  // With room to walk the paths but none for the path cache, the listing is
  // still whole.
  std::vector<dbg::Class> chains;
  for (std::uint32_t i = 0; i < 50000; ++i)
    chains.push_back({0, i % 50 ? i - 1 : dbg::NO_CLASS, i, 0, i, "c"});
  std::vector<dbg::Label> labels;
  for (std::uint32_t i = 0; i < 20000; ++i) labels.push_back({1, i * 7 % 50000, i, "l"});
  const dbg::Bytes bytes = dbg::debug_file({}, chains, labels);
  const std::string expected = test::dump(bytes).out;
  marvix::DebugImage image;
  ASSERT_EQ(marvix::image_from_bytes(bytes, image), marvix::LoadStatus::ok);
  run = test::run_with_memory_budget(1 << 20, "the paths without their cache", [&] {
    marvix::Listing listing;
    // A small output buffer: the budget is the cache's question alone.
    return static_cast<int>(marvix::dump_image(image, listing, 4096).outcome);
  });
  EXPECT_EQ(run.status, static_cast<int>(marvix::Outcome::ok));
  EXPECT_TEXT(run.out, expected);

  // An undefined-entry text of 20 MB is written whole where no copy of it
  // could be made.
  std::string text(dbg::kMagic);
  text.append(20 << 20, 'A');
  const std::string g = test::write_temp("text.dbg", dbg::Bytes(text.begin(), text.end()));
  const char* argv_text[] = {"marvix", g.c_str()};
  run = test::run_with_memory_budget(text.size() + (6 << 20), "marvix text.dbg",
                                     [&] { return marvix::run(2, argv_text); });
  EXPECT_EQ(run.status, 1);
  EXPECT_TEXT(run.err, banner() + dump_line(g) + "error: undefined entry (" +
                           text.substr(dbg::kMagic.size()) + "), abort.\n");
}

TEST(Run, NonBlockingPipesTakeEverything) {
  // A parent may hand over non-blocking pipes; a full one is waited on.
  std::vector<dbg::Label> labels(100000, {1, dbg::NO_CLASS, 0x1234, "some_label_name"});
  const std::string f = test::write_temp("nonblocking.dbg", dbg::debug_file({}, {}, labels));
  const test::Run run = run_marvix({f}, {.slow_nonblocking_pipes = true});
  const std::string listing = run_marvix({f}).out;
  EXPECT_EQ(run.status, 0);
  EXPECT_TEXT(run.out, listing);
#ifdef MARVIX_HOSTILE_SYSTEM
  // The same where calls are interrupted, writes come short, and the file's
  // size reads 0, so that its image grows as a pipe's does.
  EXPECT_TEXT(run_marvix({f}, {.slow_nonblocking_pipes = true, .env = {test::kHostileSystem}}).out, listing);
#endif
  EXPECT_TEXT(run.err, banner() + dump_line(f));
}

TEST(Run, AFullPipeIsWaitedOn) {
  // Waited on, not tried again and again: the reader takes nothing until
  // the run sleeps, which a write that spins never does; the processor-time
  // limit ends it.
  const std::vector<dbg::Label> labels(5000, {1, dbg::NO_CLASS, 0x1234, "some_label_name"});
  const std::string f = test::write_temp("unread.dbg", dbg::debug_file({}, {}, labels));
  const test::Run unread =
      run_marvix({f}, {.slow_nonblocking_pipes = true, .unread_until_asleep = true, .cpu_seconds = 1});
  EXPECT_EQ(unread.status, 0) << "ended by signal " << unread.signal;
  EXPECT_EQ(test::line_count(unread.out), 5003);
}
