// Helpers shared by the tests on every system: temporary files, the
// in-process dump, and the worked example.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dbg_builder.h"
#include "main/run.h"

namespace test {

// A file in a fresh temporary folder, removed with the folder at exit.
std::string temp_path(const std::string& name);
std::string write_temp(const std::string& name, const dbg::Bytes& bytes);
std::string read_file(const std::string& path);
inline int line_count(const std::string& text) { return static_cast<int>(std::ranges::count(text, '\n')); }

// Loads bytes from memory and runs check, scan and listings in-process.
struct Dump {
  marvix::Outcome outcome;
  std::string out;      // what the listing wrote
  std::string prompts;  // what went to standard error
};
// With `crlf`, Windows line ends, through an output buffer of `buffer_size`.
Dump dump(const dbg::Bytes& bytes, bool pause = false, bool crlf = false,
          std::size_t buffer_size = marvix::Output::kBufferSize);

// Texts that may run to megabytes: where they differ, the first line that
// does, rather than both whole.
testing::AssertionResult SameText(const char* actual_name, const char* expected_name,
                                  const std::string& actual, const std::string& expected);
#define EXPECT_TEXT(actual, expected) EXPECT_PRED_FORMAT2(test::SameText, actual, expected)

// The two banner lines every run begins with.
std::string banner();

// The two-file, two-class, three-label example of the manual, and its
// listing.
dbg::Bytes worked_example();
extern const char* const kWorkedListing;

}  // namespace test
