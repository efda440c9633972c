// Text apart from any system: bytes from outside made safe for a terminal,
// and UTF-8 with the UTF-16 of Windows names.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "text/terminal_text.h"
#include "text/utf16.h"
#include "text/utf8.h"

using namespace marvix;

// Control codes in their shown forms, C0 and C1, as bytes on their own and
// in UTF-8; everything from U+00A0 up, and bytes of other encodings, as
// they stand. Through a code page, only the bytes it decodes to controls:
// in 932 as Windows decodes it, 0x81-0x9F and 0xE0-0xFC begin a character
// of two bytes, and 0x80 alone is U+0080.
TEST(TerminalText, ControlCodesAreShownAndNothingElseChanges) {
  CodePage cp932{};
  for (unsigned b = 0; b < 256; ++b) {
    const bool lead = (b >= 0x81 && b < 0xA0) || (b >= 0xE0 && b < 0xFD);
    const bool control = b < 0x20 || b == 0x7F || b == 0x80;
    cp932.bytes[b] = lead ? CodePageByte::lead : control ? CodePageByte::control : CodePageByte::shown;
  }
  const struct {
    std::string in;
    std::string shown;
    const CodePage* code_page = nullptr;
  } cases[] = {
      {"a\x1b[1m\x07\x7f\x01\x1f", "a^[[1m^G^?^A^_"},
      {"\x9b\x9d\x80\x9f", "M-^[M-^]M-^@M-^_"},               // C1 controls as bytes
      {"\xc2\x9b\xc2\x9d\xc2\x80", "M-BM-^[M-BM-^]M-BM-^@"},  // and in UTF-8
      {"\xc2\xa0\xc4\x80\xc4\x9b\xe2\x82\xac\xf0\x9f\x98\x80",
       "\xc2\xa0\xc4\x80\xc4\x9b\xe2\x82\xac\xf0\x9f\x98\x80"},
      {"caf\xe9 \xa0\xbf", "caf\xe9 \xa0\xbf"},                  // Latin-1, stray continuation bytes
      {"\xe2\x9b", "\xe2M-^["},                                  // a sequence cut short
      {"\xc0\x9b\xe0\x82\x9b", "\xc0M-^[\xe0M-^BM-^["},          // overlong forms
      {"\xed\xa0\x9b\xed\xbf\x9d", "\xed\xa0M-^[\xed\xbfM-^]"},  // surrogates' forms
      {"\x82\xa0\x81\x80\x80\xa0\x1b", "\x82\xa0\x81\x80M-^@\xa0^[", &cp932},  // pairs; 0x80 alone
      {"\x81\x1b[2J\x81", "\x81^[[2J\x81", &cp932},  // a lead byte before a control, at the end
  };
  for (const auto& c : cases) {
    const char* p = c.in.data();
    char out[64];
    const std::size_t length = make_terminal_safe(p, c.in.data() + c.in.size(), out, sizeof out, c.code_page);
    EXPECT_EQ(std::string(out, length), c.shown) << testing::PrintToString(c.in);
    EXPECT_EQ(p, c.in.data() + c.in.size());
  }
}

// A shown form is written whole or not at all: one that no longer fits
// stays for the next call, and nothing is written past the room given.
TEST(TerminalText, ShownFormsNeverOverrunTheRoom) {
  const std::string in = "ab\x1b\xc2\x9b";
  const char* p = in.data();
  char out[9] = {'.', '.', '.', '.', '.', '.', '.', '.', '.'};
  EXPECT_EQ(make_terminal_safe(p, in.data() + in.size(), out, 7), 4u);
  EXPECT_EQ(std::string(out, 9), "ab^[.....");
  EXPECT_EQ(make_terminal_safe(p, in.data() + in.size(), out, 8), 7u);
  EXPECT_EQ(std::string(out, 9), "M-BM-^[..");
  EXPECT_EQ(p, in.data() + in.size());
}

// A write to a console ends between characters; the rest waits for the
// next. In 932 a trail byte can have a lead byte's value (82 81 is one
// character), so bytes pair up from the start.
TEST(TerminalText, ConsoleWritesEndBetweenCharacters) {
  CodePage dbcs{};  // 0x81 and 0x82 lead bytes, as in 932
  dbcs.bytes[0x81] = dbcs.bytes[0x82] = CodePageByte::lead;
  const CodePage single{};
  EXPECT_EQ(whole_characters("ab\xC3\xA9\xE3\x81", 6, nullptr), 4u);
  EXPECT_EQ(whole_characters("\x82\xA0\x82", 3, &dbcs), 2u);
  EXPECT_EQ(whole_characters("\x82\x81\x82\x81", 4, &dbcs), 4u);
  EXPECT_EQ(whole_characters("\xE9\xC3", 2, &single), 2u);
}

// Windows names: UTF-16 to UTF-8 and back gives every name its own units
// again, lone surrogates included; UTF-8 that no name can have is refused.
TEST(Utf16, NamesComeBackUnchangedAndBadUtf8IsRefused) {
  const std::u16string names[] = {
      u"a\u00e9\u0800\uffff", u"\U0001F642x", u"\xD800",
      u"\xDC00\xDC00\xD83D",  u"\xDBFF",      u"\U00010000\U0010FFFF\u0080\u07FF"};
  for (const std::u16string& name : names) {
    char utf8[32];
    const std::size_t size = utf8_from_utf16(name.data(), name.size(), utf8);
    EXPECT_LE(size, 3 * name.size());
    char16_t back[32];
    bool valid = false;
    EXPECT_EQ(std::u16string(back, utf16_from_utf8(utf8, size, back, valid)), name);
    EXPECT_TRUE(valid);
  }
  const struct {
    std::u16string text;
    std::string utf8;
  } conversions[] = {
      // Pairs at both ends of the surrogate ranges.
      {u"\u00e9\u0800\U00010000\U0001F642\U0010FFFF",
       "\xC3\xA9\xE0\xA0\x80\xF0\x90\x80\x80\xF0\x9F\x99\x82\xF4\x8F\xBF\xBF"},
      // A pair followed by a unit above the surrogates.
      {u"a\U0001F600\uFF01", "a\xF0\x9F\x98\x80\xEF\xBC\x81"},
  };
  for (const auto& c : conversions) {
    char bytes[24];
    EXPECT_EQ(std::string(bytes, utf8_from_utf16(c.text.data(), c.text.size(), bytes)), c.utf8);
  }
  for (const std::string bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",
                                "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xE2\x82"}) {
    char16_t out[8];
    bool valid = true;
    const std::size_t units = utf16_from_utf8(bad.data(), bad.size(), out, valid);
    EXPECT_FALSE(valid) << testing::PrintToString(bad);
    EXPECT_EQ(std::u16string(out, units), std::u16string(bad.size(), u'\xFFFD'))
        << testing::PrintToString(bad);
  }
  // A sequence cut at the end of a piece waits for the next piece.
  const std::string pieces[] = {"ab",       "a\xC3",    "\xE2\x82",     "\xF0\x9F\x99", "\xF0\x9F\x99\x82",
                                "\xC3\xA9", "\xDF\xBF", "\xF0\x9F\x7F", "\xEF\xBF\xBF", "\xE0\xA0"};
  const std::size_t tails[] = {0, 1, 2, 3, 0, 0, 0, 0, 0, 2};
  for (std::size_t i = 0; i < std::size(pieces); ++i)
    EXPECT_EQ(utf8_incomplete_tail(pieces[i].data(), pieces[i].size()), tails[i]) << i;
  // A piece of continuation bytes alone holds back nothing, and never looks
  // before its start, where the lead byte of an earlier piece may lie.
  const char* const cut = "\xF0\x9F\x99";
  EXPECT_EQ(utf8_incomplete_tail(cut + 1, 1), 0u);
  EXPECT_EQ(utf8_incomplete_tail(cut + 1, 2), 0u);
}
