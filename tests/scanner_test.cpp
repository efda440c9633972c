#include "debug_file/scanner.h"

#include <gtest/gtest.h>

#include "debug_file/format.h"
#include "test_util.h"

using namespace marvix;

namespace {

struct Scanned {
  ScanStatus status;
  std::string text;  // at the cursor, for an undefined entry
  DebugTables tables;
  DebugImage image;
};

Scanned scan(const dbg::Bytes& bytes) {
  Scanned s{};
  image_from_bytes(bytes, s.image);
  const ScanResult r = scan_sections(s.image, s.tables);
  s.status = r.status;
  if (r.status == ScanStatus::undefined_entry) s.text = text_at(s.image, r.cursor);
  return s;
}

dbg::Bytes magic_then(const std::string& text) {
  dbg::Bytes b;
  dbg::put(b, kMagic);
  dbg::put(b, text);
  return b;
}

}  // namespace

TEST(Scan, FindsSectionsInAnyOrderAndPointsNamesIntoTheImage) {
  // The last label's long name puts the later names past 16 MiB, where an
  // offset needs all four of its bytes.
  dbg::Bytes bytes = magic_then("");
  dbg::put_labels(bytes,
                  {{1, 0, 5, "l0"}, {2, 0, 6, ""}, {3, 0, 7, std::string(std::size_t{24} << 20, 'l')}});
  dbg::put_files(bytes, {{0, 3, "a.asm"}});
  dbg::put_classes(bytes, {{0, dbg::NO_CLASS, 0, 0, 0, "seg"}});
  dbg::put(bytes, "[end]trailing bytes are never read");
  Scanned s = scan(bytes);
  ASSERT_EQ(s.status, ScanStatus::ok);
  EXPECT_EQ(s.tables.files.count, 1u);
  EXPECT_EQ(s.tables.classes.count, 1u);
  ASSERT_EQ(s.tables.labels.count, 3u);
  // At most 32 bytes of a name, so that a failure fits a screen.
  const auto name = [&](std::uint32_t slot) { return std::string(s.tables.name(slot), 0, 32); };
  EXPECT_EQ(name(s.tables.label_entry(0).name_slot()), "l0");
  EXPECT_EQ(name(s.tables.label_entry(1).name_slot()), "");
  EXPECT_EQ(name(s.tables.file_entry(0).name_slot()), "a.asm");
  EXPECT_EQ(name(s.tables.class_entry(0).name_slot()), "seg");
}

TEST(Scan, EmptyFileAndEmptySections) {
  Scanned s = scan(magic_then("[end]"));
  EXPECT_EQ(s.status, ScanStatus::ok);
  EXPECT_EQ(s.tables.files.count + s.tables.classes.count + s.tables.labels.count, 0u);

  // An empty section may be followed by another of its kind, which replaces it.
  dbg::Bytes bytes;
  dbg::put(bytes, kMagic);
  dbg::put_files(bytes, {});
  dbg::put_files(bytes, {{0, 1, "x"}, {0, 2, "y"}});
  dbg::put(bytes, "[end]");
  s = scan(bytes);
  EXPECT_EQ(s.status, ScanStatus::ok);
  EXPECT_EQ(s.tables.files.count, 2u);
}

TEST(Scan, UndefinedEntriesShowTheTextAtTheCursor) {
  dbg::Bytes bytes;
  dbg::put(bytes, kMagic);
  dbg::put_labels(bytes, {{1, 0, 5, "l"}});
  dbg::put_labels(bytes, {{1, 0, 5, "m"}});
  Scanned s = scan(bytes);
  EXPECT_EQ(s.status, ScanStatus::undefined_entry);
  EXPECT_EQ(s.text, "[label]\x01");  // the count's zero second byte ends the text

  EXPECT_EQ(scan(magic_then("[File]")).text, "[File]");
  EXPECT_EQ(scan(magic_then("[en")).text, "[en");
  EXPECT_EQ(scan(magic_then("")).text, "");
  EXPECT_EQ(scan(magic_then("[END]")).status, ScanStatus::undefined_entry);

  // A last section that ends on the file's last byte (a name, or an empty
  // section's count), with no "[end]".
  for (const std::vector<dbg::File>& files :
       {std::vector<dbg::File>{{0, 1, "x"}}, std::vector<dbg::File>{}}) {
    bytes = magic_then("");
    dbg::put_files(bytes, files);
    s = scan(bytes);
    EXPECT_EQ(s.status, ScanStatus::undefined_entry) << files.size() << " files";
    EXPECT_EQ(s.text, "");
  }
}

TEST(Scan, NothingIsTakenFromPastTheFilesEnd) {
  dbg::Bytes whole;
  dbg::put(whole, kMagic);
  dbg::put_labels(whole, {{1, 0, 5, "first"}, {1, 0, 6, "second"}});
  const std::size_t names_end = whole.size();
  dbg::put(whole, "[end]");
  // Cut inside the tag's count, the records and the names: each would need
  // bytes from the zero tail.
  for (std::size_t cut = kMagic.size() + 7; cut < names_end; ++cut) {
    const dbg::Bytes part(whole.begin(), whole.begin() + static_cast<long>(cut));
    EXPECT_EQ(scan(part).status, ScanStatus::unexpected_end) << cut;
  }
  // Counts whose records cannot fit, including ones whose byte size
  // overflows 32 bits.
  for (const std::uint32_t count : {1u, 0x04000000u, 0xFFFFFFFFu}) {
    dbg::Bytes bytes = magic_then("[class]");
    dbg::put_le(bytes, count, 4);
    dbg::put(bytes, "[end]");
    EXPECT_EQ(scan(bytes).status, ScanStatus::unexpected_end) << count;
  }
}
