// Damaged files: prefixes of a valid file, and bytes set to 0x00, to 0xFF and
// with one bit flipped. Each must end in a complete listing or in one of the
// documented failures before anything is printed. Run under the sanitizer
// build, this also proves that no byte outside the image is read.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "test_util.h"

using marvix::Outcome;

namespace {

int g_cases = 0;

void check(const dbg::Bytes& bytes) {
  ++g_cases;
  marvix::DebugImage image;
  ASSERT_EQ(marvix::image_from_bytes(bytes, image), marvix::LoadStatus::ok);
  static FILE* const sink = std::tmpfile();  // the listings go here, unread
  marvix::Listing listing;
  listing.out.fd = fileno(sink);
  listing.pager.pause = true;
  const marvix::DumpResult result = marvix::dump_image(image, listing, 4096);
  switch (result.outcome) {
    case Outcome::ok:
      EXPECT_FALSE(listing.out.failed());
      break;
    case Outcome::undefined_entry:
      ASSERT_LE(result.cursor, image.file_size);
      (void)std::strlen(marvix::text_at(image, result.cursor));
      [[fallthrough]];
    case Outcome::wrong_type:
    case Outcome::unexpected_end:
      EXPECT_EQ(listing.out.used, 0u);  // nothing listed
      break;
    default:
      ADD_FAILURE() << "unexpected outcome " << static_cast<int>(result.outcome);
  }
}

// Cuts the file after, and damages, every byte.
void damage_every_byte(const dbg::Bytes& good) {
  // The pauses' prompts go to standard error: keep them out of the log.
  testing::internal::CaptureStderr();
  for (std::size_t length = 0; length <= good.size(); ++length)
    check(dbg::Bytes(good.begin(), good.begin() + static_cast<long>(length)));
  dbg::Bytes bytes = good;
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (const std::uint8_t value :
         {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(good[i] ^ (1u << (i % 8)))}) {
      bytes[i] = value;
      check(bytes);
    }
    bytes[i] = good[i];
  }
  testing::internal::GetCapturedStderr();
}

// Loops and out-of-range parents and owners, empty names, every kind.
dbg::Bytes larger_file() {
  std::vector<dbg::File> files;
  std::vector<dbg::Class> classes;
  std::vector<dbg::Label> labels;
  for (std::uint32_t i = 0; i < 12; ++i)
    files.push_back({static_cast<std::uint8_t>(i * 5), static_cast<std::int32_t>(i) - 3,
                     i % 5 ? "f" + std::to_string(i) : ""});
  for (std::uint32_t i = 0; i < 14; ++i) {
    const std::uint32_t parent = i % 5 == 0 ? dbg::NO_CLASS : i % 4 == 0 ? i + 1 : i - 1;
    classes.push_back(
        {static_cast<std::uint8_t>(i), parent, i * 0x100ull, i, i * 3ull, "c" + std::to_string(i)});
  }
  for (std::uint32_t i = 0; i < 40; ++i)
    labels.push_back({static_cast<std::uint8_t>(i), i % 7 == 0 ? dbg::NO_CLASS : i % 17, i * 0x1234567ull,
                      "l" + std::to_string(i)});
  return dbg::debug_file(files, classes, labels);
}

}  // namespace

TEST(Damage, SampleAndLargerFile) {
  std::ifstream in(MARVIX_SAMPLE, std::ios::binary);
  const dbg::Bytes sample{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(sample.size(), 100u);
  for (const dbg::Bytes& good : {sample, larger_file()}) {
    g_cases = 0;
    damage_every_byte(good);
    EXPECT_EQ(g_cases, static_cast<int>(good.size() * 4 + 1));
  }
}
