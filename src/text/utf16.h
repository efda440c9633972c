// UTF-16, in which Windows hands over file names, arguments and console
// text, to and from UTF-8, in which the tool works. A Windows name is a
// sequence of 16-bit units that need not be valid UTF-16: a surrogate
// without its partner is written in UTF-8's three-byte form like any other
// unit, so that every name comes back from UTF-8 unchanged and opens its
// own file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/utf8.h"

namespace marvix {

// Writes at most 3 bytes for each unit; returns the length written.
template <typename Unit>
std::size_t utf8_from_utf16(const Unit* in, std::size_t count, char* out) {
  std::size_t length = 0;
  const auto unit = [&](std::size_t i) { return std::uint32_t{static_cast<std::uint16_t>(in[i])}; };
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    // The bytes after the first, and the first's marks for how many follow.
    const int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    constexpr std::uint32_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out[length++] = static_cast<char>(kLead[more] | c >> 6 * more);
    for (int shift = 6 * (more - 1); shift >= 0; shift -= 6)
      out[length++] = static_cast<char>(0x80 | (c >> shift & 0x3F));
  }
  return length;
}

// Writes at most one unit for each byte; returns the length written. Bytes
// that begin no sequence become U+FFFD each, and `valid` turns false.
template <typename Unit>
std::size_t utf16_from_utf8(const char* in, std::size_t size, Unit* out, bool& valid) {
  std::size_t length = 0;
  valid = true;
  for (std::size_t pos = 0; pos < size;) {
    std::uint32_t c = 0;
    const std::size_t taken = utf8_sequence(in + pos, size - pos, c);
    if (taken == 0) {
      valid = false;
      c = 0xFFFD;
    }
    pos += taken == 0 ? 1 : taken;
    if (c >= 0x10000) {
      out[length++] = static_cast<Unit>(0xD800 + ((c - 0x10000) >> 10));
      c = 0xDC00 + (c & 0x3FF);
    }
    out[length++] = static_cast<Unit>(c);
  }
  return length;
}

}  // namespace marvix
