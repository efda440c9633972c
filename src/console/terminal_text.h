// Bytes from outside (names from the debug file, the undefined-entry text,
// the file name as typed) on their way to a terminal. A crafted file could
// otherwise set the window title, recolour the screen, or send the query
// sequences that some terminals answer as if typed. Each control byte
// 0x00-0x1F is shown as '^' and the byte plus 0x40 (ESC as ^[, BEL as ^G),
// and DEL as ^?. Every other byte is unchanged, so UTF-8 names still
// display. Files and pipes get the raw bytes.
#pragma once

#include <cstddef>

namespace marvix {

// How many bytes of text from outside are made safe at a time.
inline constexpr std::size_t kShownPiece = 4096;

// Turns bytes from `in` (up to `end`) into their shown form in `out`, as
// many as fit in `room` bytes (at least 2), and moves `in` past them.
// Returns the length written.
inline std::size_t make_terminal_safe(const char*& in, const char* end, char* out, std::size_t room) {
  std::size_t length = 0;
  for (; in != end && room - length >= 2; ++in) {
    const auto byte = static_cast<unsigned char>(*in);
    if (byte < 0x20 || byte == 0x7F) {
      out[length++] = '^';
      out[length++] = static_cast<char>(byte ^ 0x40);
    } else {
      out[length++] = *in;
    }
  }
  return length;
}

}  // namespace marvix
