// Helpers shared by the tests on every system: temporary files, the
// in-process dump, and the worked example.
#pragma once

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
// A descriptor that takes and drops whatever is written to it.
int null_device();
inline int line_count(const std::string& text) { return static_cast<int>(std::ranges::count(text, '\n')); }

// Loads bytes from memory and runs check, scan and listings in-process.
struct Dump {
  marvix::Outcome outcome;
  std::string out;  // what the listing wrote
  std::size_t cursor;
  std::string prompts;  // what went to standard error
};
// With `crlf`, Windows line ends; `capacity` sizes the output buffer.
Dump dump(const dbg::Bytes& bytes, bool pause = false, bool crlf = false,
          std::size_t capacity = marvix::Output::kCapacity);

// The two banner lines every run begins with.
std::string banner();

}  // namespace test

namespace test {

// The two-file, two-class, three-label example of the manual, and its
// listing.
dbg::Bytes worked_example();
extern const char* const kWorkedListing;

}  // namespace test
