// UTF-16, in which Windows hands over file names, arguments and console
// text, and UTF-8, in which the tool works. A Windows name is a sequence of
// 16-bit units that need not be valid UTF-16: a surrogate without its
// partner is written in UTF-8's three-byte form like any other unit, so that
// every name comes back from UTF-8 unchanged and opens its own file.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The length of the UTF-8 sequence that begins at `in` (at most `size`
// bytes), or 0 where no sequence begins there: a stray or missing
// continuation byte, an overlong form, or a code point past U+10FFFF. Its
// code point in `c`. A surrogate's three-byte form counts as a sequence, so
// that Windows names with lone surrogates come back unchanged.
inline std::size_t utf8_sequence(const char* in, std::size_t size, std::uint32_t& c) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(in[i]); };
  c = byte(0);
  if (c < 0x80) return 1;
  const std::size_t length = c < 0xC0 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 0;
  if (length == 0 || length > size) return 0;
  c &= (1u << (7 - length)) - 1;  // the lead byte's own bits
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    c = c << 6 | (byte(i) & 0x3F);
  }
  constexpr std::uint32_t kSmallest[] = {0x80, 0x800, 0x10000};  // of two, three and four bytes
  return c >= kSmallest[length - 2] && c <= 0x10FFFF ? length : 0;
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

// How many bytes at the end of [in, in + size) begin a sequence that the
// next bytes may complete: a text written in pieces keeps them for the next.
inline std::size_t utf8_incomplete_tail(const char* in, std::size_t size) {
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<std::uint8_t>(in[size - back]);
    if (byte < 0x80) return 0;
    if (byte >= 0xC0) {
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
      return length > back ? back : 0;
    }
  }
  return 0;
}

}  // namespace marvix
