// End-to-end: the built binary, its exact console text, standard output and
// exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "process_util.h"

using test::banner;
using test::run_marvix;

namespace {

const std::string kSyntax = "syntax: marvix file.dbg [-p]\n";

std::string dump_line(const std::string& name) { return "dump file: \"" + name + "\"\n"; }

void expect_run(const test::Run& run, int status, const std::string& err, const std::string& out = "") {
  EXPECT_EQ(run.status, status);
  EXPECT_EQ(run.err, err);
  EXPECT_EQ(run.out, out);
}

void expect_failure(const test::Run& run, const std::string& err) { expect_run(run, 1, err); }

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
  test::Run run = run_marvix({MARVIX_SAMPLE});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, sample_listing());

  // Devices and pipes are read like files.
  run = run_marvix({"/dev/stdin"}, {.stdin_path = f});
  EXPECT_EQ(run.out, test::kWorkedListing);

  // Control bytes reach files and pipes as they stand.
  const std::string c = test::write_temp("control.dbg", dbg::debug_file({{0, 1, "\x1b[31mred\x07"}}, {}, {}));
  EXPECT_NE(run_marvix({c}).out.find("DEFAULT      \x1b[31mred\x07\n"), std::string::npos);
}

TEST(Run, EveryFailureHasItsMessageAndStatusOne) {
  const std::string missing = test::temp_path("no such file.dbg");
  expect_failure(run_marvix({missing}), banner() + dump_line(missing) + "error: could not open file\n");
  expect_failure(run_marvix({"/tmp"}), banner() + dump_line("/tmp") + "error: could not open file\n");

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
  // Endless devices stop at the size limit.
  for (const char* device : {"/dev/zero", "/dev/urandom"}) {
    expect_failure(run_marvix({device}), banner() + dump_line(device) + "error: out of memory.\n");
  }
}

TEST(Run, OutputThatCannotBeWritten) {
  const std::string f = test::write_temp("out.dbg", test::worked_example());
  const std::string failed = banner() + dump_line(f) + "error: could not write output.\n";
  for (const char* out : {"/dev/full", "-"}) {
    expect_failure(run_marvix({f}, {.stdout_path = out}), failed);
    expect_failure(run_marvix({f, "-p"}, {.stdout_path = out}), failed);
  }

  // Standard error closed: messages are dropped, the listing is unaffected.
  const test::Run run = run_marvix({f}, {.close_stderr = true});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, test::kWorkedListing);
}

TEST(Run, AReaderThatGoesAwayEndsTheRunQuietly) {
  // A listing far larger than a pipe holds, into a reader that takes one
  // line and leaves.
  std::vector<dbg::Label> labels(200000, {1, dbg::NO_CLASS, 0x1234, "some_label_name"});
  const std::string f = test::write_temp("pipe.dbg", dbg::debug_file({}, {}, labels));
  const std::string err = test::temp_path("pipe.err");
  const std::string script = test::temp_path("pipe.sh");
  std::ofstream(script) << "'" << MARVIX_BINARY << "' '" << f << "' 2>'" << err
                        << "' | head -1 >/dev/null; echo ${PIPESTATUS[0]}\n";
  FILE* shell = popen(("bash '" + script + "'").c_str(), "r");
  char status[16] = {};
  ASSERT_NE(fgets(status, sizeof status, shell), nullptr);
  pclose(shell);
  EXPECT_STREQ(status, "1\n");  // not 141, the status of a SIGPIPE death
  EXPECT_EQ(test::read_file(err), banner() + dump_line(f));
}

TEST(Run, PauseWithoutATerminalStillPromptsAndGoesOn) {
  std::vector<dbg::File> files(40, {0, 1, "f.asm"});
  std::string f = test::write_temp("pause.dbg", dbg::debug_file(files, {}, {}));
  test::Run run = run_marvix({f, "-p"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, banner() + dump_line(f) + "\npress a key...");
  EXPECT_NE(run.out.find("\n20    1        DEFAULT      f.asm\n\n\n\n21 "), std::string::npos);
  EXPECT_EQ(test::line_count(run.out), 43 + 3);

  // Many pages: every prompt is written, however they are batched.
  files.resize(7000);
  f = test::write_temp("pages.dbg", dbg::debug_file(files, {}, {}));
  run = run_marvix({f, "-p"});
  EXPECT_EQ(run.status, 0);
  std::string prompts;
  for (int i = 0; i < 7003 / 23; ++i) prompts += "\npress a key...";
  EXPECT_EQ(run.err, banner() + dump_line(f) + prompts);
  EXPECT_EQ(test::line_count(run.out), 7003 + 3 * (7003 / 23));

  // Both into one file (2>&1, as in logs of CI and cron): each prompt
  // stands right after its 23rd line.
  run = run_marvix({MARVIX_PAGING_SAMPLE, "-p"}, {.stderr_to_stdout = true});
  EXPECT_EQ(run.status, 0);
  std::string expected = banner() + dump_line(MARVIX_PAGING_SAMPLE);
  std::istringstream listing(test::read_file(MARVIX_PAGING_LISTING));
  int lines = 0;
  for (std::string line; std::getline(listing, line);) {
    expected += line + "\n";
    if (++lines % 23 == 0) expected += "\npress a key...\n\n\n";
  }
  EXPECT_EQ(lines, 69);
  EXPECT_EQ(run.out, expected);
}

TEST(Run, DeepChainsEndToEnd) {
  // A chain of 3000 classes, and a loop of two.
  std::vector<dbg::Class> classes;
  for (std::uint32_t i = 0; i < 3000; ++i)
    classes.push_back({0, i == 0 ? dbg::NO_CLASS : i - 1, 0, 0, 0, "c"});
  classes.push_back({0, 3001, 0, 0, 0, "A"});
  classes.push_back({0, 3000, 0, 0, 0, "B"});
  const std::string chain =
      test::write_temp("chain.dbg", dbg::debug_file({}, classes, {{0, 2999, 0, "deep"}, {0, 3000, 0, "L"}}));
  const test::Run run = run_marvix({chain});
  EXPECT_EQ(run.status, 0);
  std::string path;
  for (int i = 0; i < 3000; ++i) path += "c.";
  EXPECT_NE(run.out.find(" " + path + "deep\n"), std::string::npos);
  EXPECT_NE(run.out.find(" ...B.A.L\n"), std::string::npos);
}

TEST(Run, OutOfMemoryEndsWithItsMessageAndWhatOnlySpeedsUpFallsBack) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "no memory budget fits the sanitizer's shadow memory";
  if (!test::memory_budget_enforced()) GTEST_SKIP() << "no address-space limit is enforced here (qemu-user)";
  // 600,000 classes: the image is 39 MB, and walking class paths needs 8
  // bytes a class, 4.8 MB, which a budget of 3 MiB over the file cannot give.
  std::vector<dbg::Class> many(600000, {0, dbg::NO_CLASS, 0, 0, 0, ""});
  const dbg::Bytes big = dbg::debug_file({}, many, {});
  const std::string f = test::write_temp("many.dbg", big);
  const char* argv[] = {"marvix", f.c_str()};
  test::Run run = test::run_with_memory_budget(big.size() + (3 << 20), [&] { return marvix::run(2, argv); });
  expect_failure(run, banner() + dump_line(f) + "error: out of memory.\n");

  // With room to walk the paths but none for the path cache or the 2 MiB
  // output buffer, the listing is still whole.
  std::vector<dbg::Class> chains;
  for (std::uint32_t i = 0; i < 50000; ++i)
    chains.push_back({0, i % 50 ? i - 1 : dbg::NO_CLASS, i, 0, i, "c"});
  std::vector<dbg::Label> labels;
  for (std::uint32_t i = 0; i < 20000; ++i) labels.push_back({1, i * 7 % 50000, i, "l"});
  const dbg::Bytes bytes = dbg::debug_file({}, chains, labels);
  const std::string expected = test::dump(bytes).out;
  marvix::DebugImage image;
  ASSERT_EQ(marvix::image_from_bytes(bytes, image), marvix::LoadStatus::ok);
  run = test::run_with_memory_budget(1 << 20, [&] {
    marvix::Listing listing;
    return static_cast<int>(marvix::dump_image(image, listing).outcome);
  });
  EXPECT_EQ(run.status, static_cast<int>(marvix::Outcome::ok));
  EXPECT_TRUE(run.out == expected) << "listings differ";

  // An undefined-entry text of 20 MB is written whole where no copy of it
  // could be made.
  std::string text(dbg::kMagic);
  text.append(20 << 20, 'A');
  const std::string g = test::write_temp("text.dbg", dbg::Bytes(text.begin(), text.end()));
  const char* argv_text[] = {"marvix", g.c_str()};
  run = test::run_with_memory_budget(text.size() + (6 << 20), [&] { return marvix::run(2, argv_text); });
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err == banner() + dump_line(g) + "error: undefined entry (" +
                             text.substr(dbg::kMagic.size()) + "), abort.\n")
      << run.err.size() << " bytes of messages";
}

TEST(Run, NonBlockingPipesTakeEverything) {
  // A parent may hand over non-blocking pipes; a full one is waited on.
  std::vector<dbg::Label> labels(100000, {1, dbg::NO_CLASS, 0x1234, "some_label_name"});
  const std::string f = test::write_temp("nonblocking.dbg", dbg::debug_file({}, {}, labels));
  test::Run run = run_marvix({f}, {.slow_nonblocking_pipes = true});
  const std::string listing = run_marvix({f}).out;
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out == listing) << run.out.size() << " bytes of listing";
#ifdef MARVIX_HOSTILE_SYSTEM
  // The same where every other read and write is interrupted, the file's
  // size reads 0 and memory comes off the huge-page boundary.
  EXPECT_TRUE(run_marvix({f}, {.slow_nonblocking_pipes = true, .preload = MARVIX_HOSTILE_SYSTEM}).out ==
              listing);
#endif
  EXPECT_EQ(run.err, banner() + dump_line(f));

  std::string text(dbg::kMagic);
  text.append(1 << 20, 'B');
  const std::string g = test::write_temp("long_text.dbg", dbg::Bytes(text.begin(), text.end()));
  run = run_marvix({g}, {.slow_nonblocking_pipes = true});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.size(),
            (banner() + dump_line(g) + "error: undefined entry (), abort.\n").size() + (1 << 20));
}
