#include "debug_file/format.h"

#include <gtest/gtest.h>

#include "dbg_builder.h"

using namespace marvix;

TEST(Format, KindNamesMaskTheKindByte) {
  EXPECT_EQ(kind_name(kFileKinds, 0x42), "INCLUDE");
  EXPECT_EQ(kind_name(kFileKinds, 0x04), "IFELSE");
  EXPECT_EQ(kind_name(kFileKinds, 0x45), "(undefined)");
  EXPECT_EQ(kind_name(kFileKinds, 0x7F), "(undefined)");
  EXPECT_EQ(kind_name(kFileKinds, 0x85), "(undefined)");
  EXPECT_EQ(kind_name(kClassKinds, 0x81), "PROC");
  EXPECT_EQ(kind_name(kClassKinds, 0x82), "TABLE");
  EXPECT_EQ(kind_name(kClassKinds, 0x83), "(undefined)");
  EXPECT_EQ(kind_name(kLabelKinds, 0xC8), "PC_FOFS");
  EXPECT_EQ(kind_name(kLabelKinds, 0x0B), "PREDEFINE");
  EXPECT_EQ(kind_name(kLabelKinds, 0x0C), "(undefined)");
  EXPECT_EQ(kind_name(kLabelKinds, 0x00), "UNDEFINED");
}

TEST(Format, RecordViewsReadLittleEndianAtAnyOffset) {
  dbg::Bytes bytes;
  bytes.push_back(0);  // misalign every record by one byte
  dbg::put_classes(bytes, {{0x81, 7, 0x1122334455667788, 16, 8, "c"}});
  const ClassEntry c{bytes.data() + 1 + 7 + 4};
  EXPECT_EQ(c.kind(), 0x81);
  EXPECT_EQ(c.parent(), 7u);
  EXPECT_EQ(c.start(), 0x1122334455667788u);
  EXPECT_EQ(c.size(), 0xFFFFFFFFFFFFFFF8u);  // end below begin wraps

  bytes.assign(3, 0);
  dbg::put_files(bytes, {{0xC1, -1, "f"}});
  const FileEntry f{bytes.data() + 3 + 6 + 4};
  EXPECT_EQ(f.lines(), -1);
  EXPECT_TRUE(f.parenthesised());

  bytes.assign(5, 0);
  dbg::put_labels(bytes, {{0x08, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF, "l"}});
  const LabelEntry l{bytes.data() + 5 + 7 + 4};
  EXPECT_EQ(l.class_index(), NO_CLASS);
  EXPECT_EQ(l.value(), 0xFFFFFFFFFFFFFFFFu);
}
