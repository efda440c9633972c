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
      EXPECT_EQ(listing.out.used, 0u);  // nothing listed
      break;
    default:
      ADD_FAILURE() << "unexpected outcome " << static_cast<int>(result.outcome);
  }
}

// Cuts the file after, and damages, every byte where `tried` is set.
void damage_at(const dbg::Bytes& good, const std::vector<bool>& tried) {
  // The pauses' prompts go to standard error: keep them out of the log.
  testing::internal::CaptureStderr();
  for (std::size_t length = 0; length <= good.size(); ++length)
    if (length == good.size() || tried[length])
      check(dbg::Bytes(good.begin(), good.begin() + static_cast<long>(length)));
  dbg::Bytes bytes = good;
  for (std::size_t i = 0; i < good.size(); ++i) {
    if (!tried[i]) continue;
    for (const std::uint8_t value :
         {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(good[i] ^ (1u << (i % 8)))}) {
      bytes[i] = value;
      check(bytes);
    }
    bytes[i] = good[i];
  }
  testing::internal::GetCapturedStderr();
}

// Loops and out-of-range parents and owners, empty names, every kind; and
// which of its bytes to try. The edges are where the reader's decisions
// change: section heads, the first and last records of each section, the
// first and last names, the end tag. Within long runs of records or names
// of one shape every 29th byte is tried: 29 is prime to both record sizes,
// so that every field of a record, and every bit of the flip, is still met.
struct LargerFile {
  dbg::Bytes bytes;
  std::vector<bool> tried;
};

LargerFile larger_file() {
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

  LargerFile file;
  dbg::Bytes& out = file.bytes;
  dbg::put(out, dbg::kMagic);
  std::vector<std::size_t> edges{0};
  const auto section = [&](auto put_section, const auto& entries) {
    edges.push_back(out.size());
    put_section(out, entries, dbg::kJunk);
    std::size_t names = 0;
    for (const auto& entry : entries) names += entry.name.size() + 1;
    edges.push_back(out.size() - names);
  };
  section(dbg::put_files, files);
  section(dbg::put_classes, classes);
  section(dbg::put_labels, labels);
  edges.push_back(out.size());
  dbg::put(out, marvix::kTagEnd);
  edges.push_back(out.size());

  constexpr std::size_t kNear = 2 * marvix::ClassEntry::kSize + 16;  // two records and a head
  file.tried.resize(out.size() + 1);
  for (std::size_t i = 0; i <= out.size(); ++i) {
    file.tried[i] = i % 29 == 0;
    for (const std::size_t edge : edges)
      file.tried[i] = file.tried[i] || (i + kNear > edge && i < edge + kNear);
  }
  return file;
}

}  // namespace

TEST(Damage, SampleFile) {
  std::ifstream in(MARVIX_SAMPLE, std::ios::binary);
  const dbg::Bytes sample{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(sample.size(), 100u);
  g_cases = 0;
  damage_at(sample, std::vector<bool>(sample.size(), true));
  EXPECT_EQ(g_cases, static_cast<int>(sample.size() * 4 + 1));
}

TEST(Damage, LargerFile) {
  const LargerFile file = larger_file();
  g_cases = 0;
  damage_at(file.bytes, file.tried);
  // Every byte near an edge, and enough of the rest.
  EXPECT_GT(g_cases, 4000);
}
