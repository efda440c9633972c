// UTF-8, in which the tool works: where a sequence begins, how long it is,
// and whether a text cut into pieces ends inside one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvix {

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
