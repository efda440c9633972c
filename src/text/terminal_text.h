// Bytes from outside (names from the debug file, the undefined-entry text,
// the file name as typed) on their way to a terminal. A crafted file could
// otherwise set the window title, recolour the screen, or send the query
// sequences that some terminals answer as if typed. Control codes are shown
// the way cat -v shows them:
// - a C0 control byte 0x00-0x1F as '^' and the byte plus 0x40 (ESC as ^[,
//   BEL as ^G), and DEL as ^?;
// - a C1 control 0x80-0x9F, which terminals that honour them take as ESC
//   and a letter (0x9B is CSI, ESC [), both as a byte on its own and in its
//   UTF-8 form C2 80 to C2 9F: each byte as "M-" and the shown form of the
//   byte less 0x80, so 0x9B shows as M-^[ and C2 9B as M-BM-^[.
// Every other byte is unchanged: the characters from U+00A0 up in UTF-8
// still display, and so do the bytes of other encodings from 0xA0 up. Files
// and pipes get the raw bytes.
//
// A Windows console outside code page 65001 (UTF-8) shows bytes through
// its code page instead, where 0x80-0x9F are mostly letters (0x94 is ö in
// code page 437) and no byte is a C1 control unless the code page decodes
// it to one. There a CodePage, made from the console's code page, says
// which bytes are controls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/utf8.h"

namespace marvix {

// How many bytes of text from outside are made safe at a time.
inline constexpr std::size_t kShownPiece = 4096;

// The longest shown form of one character: C2 9B as M-BM-^[.
inline constexpr std::size_t kLongestShown = 7;

// U+0000-U+001F, U+007F and U+0080-U+009F.
inline bool is_control_code(std::uint32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

// How a console with a code page of one or two bytes a character takes
// each byte on its own.
enum class CodePageByte : unsigned char {
  shown,    // a character, or none at all: the console shows a default one
  control,  // decodes to a control code
  lead,     // begins a character of two bytes (code pages 932, 936, 949, 950)
};

struct CodePage {
  CodePageByte bytes[256];
};

// Writes the shown form of one byte of a control code; returns its length.
inline std::size_t show_control_byte(unsigned char byte, char* out) {
  std::size_t length = 0;
  if (byte >= 0x80) {
    out[length++] = 'M';
    out[length++] = '-';
    byte = static_cast<unsigned char>(byte - 0x80);
  }
  if (byte < 0x20 || byte == 0x7F) {
    out[length++] = '^';
    out[length++] = static_cast<char>(byte ^ 0x40);
  } else {
    out[length++] = static_cast<char>(byte);
  }
  return length;
}

// The character at `in` (a UTF-8 sequence, or a single byte where none
// begins) as it is shown, in `form`, at most kLongestShown bytes; its
// length in bytes of input in `taken`. Returns the length of the form.
inline std::size_t shown_form(const char* in, const char* end, char* form, std::size_t& taken) {
  const auto byte = static_cast<unsigned char>(*in);
  taken = 1;
  bool control = is_control_code(byte);
  if (byte >= 0xC0) {
    std::uint32_t c = 0;
    const std::size_t length = utf8_sequence(in, static_cast<std::size_t>(end - in), c);
    // A surrogate's three-byte form (ED A0 80 to ED BF BF) is no character
    // to a terminal, which meets its continuation bytes on their own: each
    // byte is judged alone, so that ED A0 9B shows its 0x9B.
    if (length > 0 && (c < 0xD800 || c > 0xDFFF)) {
      taken = length;
      control = is_control_code(c);
    }
  }
  if (!control) {
    std::memcpy(form, in, taken);
    return taken;
  }
  std::size_t size = 0;
  for (std::size_t i = 0; i < taken; ++i)
    size += show_control_byte(static_cast<unsigned char>(in[i]), form + size);
  return size;
}

// Whether the byte at `in` begins a character of two bytes through
// `code_page`: a lead byte goes with the byte after it, which is then part
// of a character, not a byte on its own (in code page 932, 0x80 alone is a
// control, but 81 80 is a sign). A lead byte before an ASCII control, which
// no code page takes as a second byte, or at the end stands alone, and the
// console shows its default character.
inline bool begins_pair(const CodePage& code_page, const char* in, const char* end) {
  if (code_page.bytes[static_cast<unsigned char>(*in)] != CodePageByte::lead || end - in < 2) return false;
  const auto next = static_cast<unsigned char>(in[1]);
  return next >= 0x20 && next != 0x7F;
}

// The same for a console that shows bytes through `code_page`.
inline std::size_t shown_form(const CodePage& code_page, const char* in, const char* end, char* form,
                              std::size_t& taken) {
  const auto byte = static_cast<unsigned char>(*in);
  taken = begins_pair(code_page, in, end) ? 2 : 1;
  if (code_page.bytes[byte] == CodePageByte::control) return show_control_byte(byte, form);
  std::memcpy(form, in, taken);
  return taken;
}

// Turns bytes from `in` (up to `end`) into their shown form in `out`, as
// many characters as fit whole in `room` bytes (at least kLongestShown), and
// moves `in` past them: through `code_page` where it is given, else as on a
// terminal that takes UTF-8. Returns the length written.
inline std::size_t make_terminal_safe(const char*& in, const char* end, char* out, std::size_t room,
                                      const CodePage* code_page = nullptr) {
  std::size_t length = 0;
  while (in != end) {
    char form[kLongestShown];
    std::size_t taken = 0;
    const std::size_t size = code_page != nullptr ? shown_form(*code_page, in, end, form, taken)
                                                  : shown_form(in, end, form, taken);
    if (size > room - length) break;
    std::memcpy(out + length, form, size);
    length += size;
    in += taken;
  }
  return length;
}

// How many of the `size` bytes at `in` go to a console in one write, so
// that the write ends between characters: a console decodes each write on
// its own, and shows a character cut in two as two wrong ones. The rest
// goes with the next write. Through `code_page`, no lead byte is left alone
// at the end; else (UTF-8) no sequence is cut. `in` begins a character: a
// trail byte can have a lead byte's value, so only counting from the start
// tells them apart.
inline std::size_t whole_characters(const char* in, std::size_t size, const CodePage* code_page) {
  if (code_page == nullptr) return size - utf8_incomplete_tail(in, size);
  const char* const end = in + size;
  const char* last = in;
  while (end - last > 1) last += begins_pair(*code_page, last, end) ? 2 : 1;
  const bool lead_alone =
      last != end && code_page->bytes[static_cast<unsigned char>(*last)] == CodePageByte::lead;
  return lead_alone ? size - 1 : size;
}

}  // namespace marvix
