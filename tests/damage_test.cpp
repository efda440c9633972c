// Damaged files: every prefix of a valid file, and every byte set to 0x00,
// to 0xFF and with one bit flipped. Each must end in a complete listing or in
// one of the documented failures before anything is printed. Run under the
// sanitizer build, this also proves that no byte outside the image is read.
#include <gtest/gtest.h>

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
  marvix::Listing listing{marvix::Output(4096)};  // a small buffer: the cases are many
  listing.out.fd = -1;                            // count the bytes, keep none
  listing.pager.pause = true;
  listing.pager.wait_for_key = false;
  const marvix::DumpResult result = marvix::dump_image(image, listing);
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
      EXPECT_EQ(listing.out.written, 0u);
      break;
    default:
      ADD_FAILURE() << "unexpected outcome " << static_cast<int>(result.outcome);
  }
}

void damage_everywhere(const dbg::Bytes& good) {
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
}

// Loops and out-of-range parents and owners, empty names, every kind.
dbg::Bytes larger_file() {
  std::vector<dbg::File> files;
  std::vector<dbg::Class> classes;
  std::vector<dbg::Label> labels;
  for (std::uint32_t i = 0; i < 60; ++i)
    files.push_back({static_cast<std::uint8_t>(i * 5), static_cast<std::int32_t>(i) - 3,
                     i % 9 ? "file" + std::to_string(i) : ""});
  for (std::uint32_t i = 0; i < 40; ++i) {
    const std::uint32_t parent = i % 10 == 0 ? dbg::NO_CLASS : i % 13 == 0 ? i + 1 : i - 1;
    classes.push_back(
        {static_cast<std::uint8_t>(i), parent, i * 0x100ull, i, i * 3ull, "c" + std::to_string(i)});
  }
  for (std::uint32_t i = 0; i < 200; ++i)
    labels.push_back({static_cast<std::uint8_t>(i), i % 7 == 0 ? dbg::NO_CLASS : i % 45, i * 0x1234567ull,
                      "l" + std::to_string(i)});
  return dbg::debug_file(files, classes, labels);
}

}  // namespace

TEST(Damage, SampleFile) {
  std::ifstream in(MARVIX_SAMPLE, std::ios::binary);
  const dbg::Bytes sample{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(sample.size(), 100u);
  g_cases = 0;
  damage_everywhere(sample);
  EXPECT_EQ(g_cases, static_cast<int>(sample.size() * 4 + 1));
}

TEST(Damage, LargerFile) {
  g_cases = 0;
  const dbg::Bytes file = larger_file();
  damage_everywhere(file);
  std::printf("damaged-file cases: %d over %zu bytes\n", g_cases, file.size());
}
