#include "listing/listing.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <random>
#include <sstream>

#include "test_util.h"

using marvix::Outcome;

namespace {

std::string listing_of(const std::vector<dbg::File>& files, const std::vector<dbg::Class>& classes,
                       const std::vector<dbg::Label>& labels, bool pause = false) {
  const test::Dump d = test::dump(dbg::debug_file(files, classes, labels), pause);
  EXPECT_EQ(d.outcome, Outcome::ok);
  return d.out;
}

// The name column of the one label row in a listing.
std::string label_path(const std::vector<dbg::Class>& classes, std::uint32_t owner) {
  const std::string text = listing_of({}, classes, {{0, owner, 0, "L"}});
  const std::size_t row = text.rfind("0     UNDEFINED    0            ");
  return text.substr(row + 32, text.size() - row - 32 - 2);
}

}  // namespace

TEST(Listing, WorkedExampleByteForByte) {
  const test::Dump d = test::dump(test::worked_example());
  EXPECT_EQ(d.outcome, Outcome::ok);
  EXPECT_TEXT(d.out, test::kWorkedListing);
}

TEST(Listing, RecordsWrittenOutByHand) {
  // One record of each section, byte by byte, with no help from the
  // format's constants or the test builder: an offset wrong in both would
  // pass every other test. Reserved bytes and name slots hold 0xA5.
  const std::string r4(4, '\xa5'), r8(8, '\xa5');
  const std::string bytes = std::string("[tolvane|dbg|v1.00]\r\n\x1b", 22) +
                            // [file], one record: kind 0x42 (INCLUDE, in parentheses) at 0, lines
                            // -300 at 8, name slot at 24.
                            std::string("[file]\x01\x00\x00\x00", 10) + "\x42" + std::string(7, '\xa5') +
                            std::string("\xd4\xfe\xff\xff", 4) + r8 + r4 + r4 + std::string(20, '\xa5') +
                            std::string("defs.inc\0", 9) +
                            // [class], one record: kind 0x81 (PROC) at 0, parent NO_CLASS at 4,
                            // start at 8, extent begin at 16 and end at 32, name slot at 48.
                            std::string("[class]\x01\x00\x00\x00", 11) + "\x81" + std::string(3, '\xa5') +
                            "\xff\xff\xff\xff" + "\x88\x77\x66\x55\x44\x33\x22\x11" +
                            std::string("\x00\x00\x00\x00\x01\x00\x00\x00", 8) + r8 +
                            std::string("\x80\x00\x00\x00\x01\x00\x00\x00", 8) + r8 + r4 +
                            std::string(12, '\xa5') + std::string("init\0", 5) +
                            // [label], one record: kind 0x48 (PC_FOFS) at 0, class 0 at 4, name
                            // slot at 8, value at 24.
                            std::string("[label]\x01\x00\x00\x00", 11) + "\x48" + std::string(3, '\xa5') +
                            std::string("\x00\x00\x00\x00", 4) + r4 + std::string(12, '\xa5') +
                            std::string("\xef\xbe\xad\xde\x00\x00\x00\x00", 8) + std::string(16, '\xa5') +
                            std::string("entry\0", 6) + "[end]";
  const test::Dump d = test::dump(dbg::Bytes(bytes.begin(), bytes.end()));
  EXPECT_EQ(d.outcome, Outcome::ok);
  EXPECT_EQ(d.out,
            "[file]\n"
            "item  lines    type         name\n"
            "0     -300     INCLUDE      (defs.inc)\n"
            "\n"
            "[class]\n"
            "item  type     start        size         name\n"
            "0     PROC     0x1122334455667788 0x80         init\n"
            "\n"
            "[label]\n"
            "item  type         value        name\n"
            "0     PC_FOFS      0xdeadbeef   init.entry\n"
            "\n");
}

TEST(Listing, ColumnsAndNameForms) {
  // An empty table prints nothing at all.
  EXPECT_EQ(listing_of({}, {}, {}), "");
  EXPECT_EQ(listing_of({}, {}, {{0, dbg::NO_CLASS, 0, "x"}}).substr(0, 8), "[label]\n");
  // Unknown kinds are the highest codes, which a kind added next leaves unknown.
  EXPECT_EQ(listing_of({{0xBF, -1, "plain"}, {0x7F, 2147483647, "paren"}, {0x40, 0, ""}}, {}, {}),
            "[file]\n"
            "item  lines    type         name\n"
            "0     -1       (undefined)  plain\n"
            "1     2147483647 (undefined)  (paren)\n"
            "2     0        DEFAULT      ()\n"
            "\n");
  EXPECT_EQ(listing_of({}, {{0xFF, dbg::NO_CLASS, 0, 16, 8, "odd"}, {0x02, dbg::NO_CLASS, 0, 0, 0, ""}},
                       {{0x3F, dbg::NO_CLASS, 4096, ""}}),
            "[class]\n"
            "item  type     start        size         name\n"
            "0     (undefined) 0            0xfffffffffffffff8 odd\n"
            "1     TABLE    0            0            \n"
            "\n"
            "[label]\n"
            "item  type         value        name\n"
            "0     (undefined)  0x1000       \n"
            "\n");
}

TEST(Listing, FieldsMatchPrintfOnRandomValues) {
  // Each row against printf's formatting of the same fields; the first row
  // that differs is shown with the values that made it.
  std::mt19937_64 random(7);
  std::vector<dbg::File> files;
  std::vector<dbg::Class> classes;
  std::vector<dbg::Label> labels;
  std::vector<std::string> rows[3];  // of the files, classes and labels
  const char* file_kinds[] = {"DEFAULT", "BINOUT", "INCLUDE", "MACRO", "IFELSE"};
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t bits = random();
    const std::uint64_t value =
        i < 3 ? std::uint64_t{0} - static_cast<std::uint64_t>(i == 1) : bits >> (bits % 64);
    const auto lines = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    const std::string name(static_cast<std::size_t>(i % 40 == 0 ? 300 : i % 20),
                           static_cast<char>('a' + i % 26));
    files.push_back({static_cast<std::uint8_t>(i % 5), lines, name});
    classes.push_back({2, dbg::NO_CLASS, value, bits, value, name});
    labels.push_back({1, dbg::NO_CLASS, value, name});
    char row[512];
    std::snprintf(row, sizeof row, "%-5i %-8i %-12s %s", i, lines, file_kinds[i % 5], name.c_str());
    rows[0].push_back(row);
    std::snprintf(row, sizeof row, "%-5i %-8s %#-12" PRIx64 " %#-12" PRIx64 " %s", i, "TABLE", value,
                  value - bits, name.c_str());
    rows[1].push_back(row);
    std::snprintf(row, sizeof row, "%-5i %-12s %#-12" PRIx64 " %s", i, "CODE", value, name.c_str());
    rows[2].push_back(row);
  }
  std::istringstream text(listing_of(files, classes, labels));
  std::string line;
  for (const std::vector<std::string>& table : rows) {
    std::getline(text, line);
    std::getline(text, line);  // title and header
    for (std::size_t i = 0; i < table.size(); ++i) {
      std::getline(text, line);
      ASSERT_EQ(line, table[i]) << "row " << i << ", made from the value 0x" << std::hex << classes[i].start
                                << " and the extent begin 0x" << classes[i].begin;
    }
    std::getline(text, line);  // the closing line
  }
}

TEST(ClassPath, StopsAtNoClassOutOfRangeAndLoops) {
  const std::uint32_t none = dbg::NO_CLASS;
  EXPECT_EQ(label_path({{0, none, 0, 0, 0, "A"}}, none), "L");
  EXPECT_EQ(label_path({{0, none, 0, 0, 0, "A"}}, 0), "A.L");
  EXPECT_EQ(label_path({{0, none, 0, 0, 0, "A"}}, 1), "...L");
  EXPECT_EQ(label_path({{0, 1, 0, 0, 0, "A"}}, 0), "...A.L");  // the first parent outside
  EXPECT_EQ(label_path({{0, 1, 0, 0, 0, "A"}, {0, 0, 0, 0, 0, "B"}}, 0), "...B.A.L");
  EXPECT_EQ(label_path({{0, 0, 0, 0, 0, "Self"}}, 0), "...Self.L");
  // A chain that runs into a loop shows the loop once, then the way in.
  EXPECT_EQ(label_path({{0, 1, 0, 0, 0, "A"}, {0, 2, 0, 0, 0, "B"}, {0, 1, 0, 0, 0, "C"}}, 0), "...C.B.A.L");
}

TEST(ClassPath, OwnersJustPastTheTableAmongCachedPaths) {
  // An owner equal to the class count is outside the table, for a class as
  // for a label; the paths cached around it stay as they were.
  const std::uint32_t count = 1024;
  std::vector<dbg::Class> classes;
  for (std::uint32_t i = 0; i < count; ++i)
    classes.push_back({0, i % 8 == 0 ? dbg::NO_CLASS : i - 1, 0, 0, 0, "c" + std::to_string(i)});
  classes[5].parent = count;
  classes[count - 1].parent = count;
  const std::vector<dbg::Label> labels = {{0, 3, 0, "a"},     {0, count, 0, "z"}, {0, 0, 0, "b"},
                                          {0, count, 0, "y"}, {0, 7, 0, "c"},     {0, count - 1, 0, "d"}};
  std::string expected = "[class]\nitem  type     start        size         name\n";
  // A class's path, by the rule: its parents' names outermost first, cut
  // with "..." at an owner outside the table.
  const auto path = [&](std::uint32_t index) {
    std::string text;
    for (; index != dbg::NO_CLASS; index = classes[index].parent) {
      if (index >= count) return "..." + text;
      text = classes[index].name + "." + text;
    }
    return text;
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string item = std::to_string(i);
    expected += item + std::string(6 - item.size(), ' ') + "SEGMENT  0            0            " +
                path(classes[i].parent) + classes[i].name + "\n";
  }
  expected += "\n[label]\nitem  type         value        name\n";
  for (std::uint32_t i = 0; i < labels.size(); ++i)
    expected +=
        std::to_string(i) + "     UNDEFINED    0            " + path(labels[i].owner) + labels[i].name + "\n";
  EXPECT_TEXT(listing_of({}, classes, labels), expected + "\n");
}

TEST(ClassPath, LongPathsArePrintedWholeAndAgreeWhenRepeated) {
  std::vector<dbg::Class> classes;
  for (std::uint32_t i = 0; i < 5000; ++i)
    classes.push_back({0, i == 0 ? dbg::NO_CLASS : i - 1, 0, 0, 0, "c" + std::to_string(i)});
  std::string expected;
  for (std::uint32_t i = 0; i < 5000; ++i) expected += "c" + std::to_string(i) + ".";
  std::vector<dbg::Label> labels(3, {0, 4999, 0, "L"});
  const std::string text = listing_of({}, classes, labels);
  for (const char* row : {"\n0     UNDEFINED    0            ", "\n1     UNDEFINED    0            ",
                          "\n2     UNDEFINED    0            "}) {
    EXPECT_NE(text.find(row + expected + "L\n"), std::string::npos) << row;
  }
  // Two classes whose names alone exceed the path cache.
  const std::string big(marvix::ClassPaths::kCacheText / 2, 'x');
  EXPECT_EQ(label_path({{0, dbg::NO_CLASS, 0, 0, 0, big}, {0, 0, 0, 0, 0, big}}, 1), big + "." + big + ".L");
}

TEST(Pager, PausesAfterEvery23LinesAcrossListings) {
  const auto files = [](int n) { return std::vector<dbg::File>(static_cast<std::size_t>(n), {0, 0, "f"}); };
  // 19 rows + title, header, closing line = 22 lines: no pause.
  std::string text = listing_of(files(19), {}, {}, true);
  EXPECT_EQ(text.find("\n\n\n\n"), std::string::npos);
  // 23 lines: one pause, after the closing empty line.
  text = listing_of(files(20), {}, {}, true);
  EXPECT_EQ(test::line_count(text), 23 + 3);
  EXPECT_EQ(text.substr(text.size() - 6), "f\n\n\n\n\n");
  // The counter runs on into the next listing: 22 file lines, then the
  // class title is the 23rd.
  text = listing_of(files(19), {{0, dbg::NO_CLASS, 0, 0, 0, "c"}}, {}, true);
  EXPECT_NE(text.find("f\n\n[class]\n\n\n\nitem"), std::string::npos);
  // And without the switch nothing is added.
  EXPECT_EQ(test::line_count(listing_of(files(100), {}, {}, false)), 103);
  const test::Dump d = test::dump(dbg::debug_file(files(100), {}, {}), true);
  EXPECT_EQ(test::line_count(d.out), 103 + 3 * (103 / 23));
  // Standard error has the prompts, but on Windows, where the console
  // device has them.
  const std::string prompts = "\npress a key...\npress a key...\npress a key...\npress a key...";
  EXPECT_EQ(d.prompts, marvix::kStandardOutputCrlf ? "" : prompts);
}

TEST(Output, CrlfLineEndsWhereverALineFeedGoes) {
  // Line ends, the pause's line feeds and line feeds inside names and
  // class paths (cached or not) all go out as "\r\n", also through a buffer
  // smaller than a row; no other byte value changes.
  std::vector<dbg::File> files(30, {0x7F, 1, "a\nb"});
  files.push_back({0, 2, "\n\n"});
  for (int c = 1; c < 256; ++c) files.back().name += static_cast<char>(c);
  const dbg::Bytes bytes = dbg::debug_file(files, {{0, dbg::NO_CLASS, 0, 0, 0, "c\n"}, {0, 0, 0, 0, 0, "d"}},
                                           {{0, 1, 0, "\nl"}, {0, 1, 0, "m"}});
  std::string text[2];
  for (const bool crlf : {false, true}) text[crlf] = test::dump(bytes, true, crlf, crlf ? 7 : 4096).out;
  std::string expected;
  for (const char c : text[0]) expected += c == '\n' ? "\r\n" : std::string(1, c);
  EXPECT_TEXT(text[1], expected);
  EXPECT_NE(text[0].find("a\nb)\n"), std::string::npos);
}

TEST(Output, PiecesLargerThanTheBufferGoOutInTheirPlace) {
  // A name longer than the whole buffer goes out on its own, after what was
  // buffered before it and before what follows.
  std::vector<dbg::File> files;
  for (int i = 0; i < 6; ++i)
    files.push_back({0, i, std::string(i % 2 ? 10000 : 10, static_cast<char>('a' + i))});
  const dbg::Bytes bytes = dbg::debug_file(files, {}, {});
  EXPECT_TEXT(test::dump(bytes, false, false, 4096).out, test::dump(bytes).out);
}
