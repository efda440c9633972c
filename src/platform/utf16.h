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
  const auto put = [&](std::uint32_t byte) { out[length++] = static_cast<char>(byte); };
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(in[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && static_cast<std::uint16_t>(in[i + 1]) >= 0xDC00 &&
        static_cast<std::uint16_t>(in[i + 1]) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint16_t>(in[++i]) - 0xDC00u);
      put(0xF0 | c >> 18);
      put(0x80 | (c >> 12 & 0x3F));
    } else if (c >= 0x800) {
      put(0xE0 | c >> 12);
    } else if (c >= 0x80) {
      put(0xC0 | c >> 6);
      put(0x80 | (c & 0x3F));
      continue;
    } else {
      put(c);
      continue;
    }
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  }
  return length;
}

// The length of the UTF-8 sequence that begins at `in` (at most `size`
// bytes), or 0 where no sequence begins there; its code point in `c`.
inline std::size_t utf8_sequence(const char* in, std::size_t size, std::uint32_t& c) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(in[i]); };
  const std::uint32_t lead = byte(0);
  std::size_t length = 0;
  std::uint32_t low = 0x80;  // the smallest and largest second byte
  std::uint32_t high = 0xBF;
  if (lead < 0x80) {
    c = lead;
    return 1;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (length > size) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (byte(i) < (i == 1 ? low : 0x80) || byte(i) > (i == 1 ? high : 0xBF)) return 0;
    c = c << 6 | (byte(i) & 0x3F);
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
