// A read position over the bytes of the file that moves only after a read
// that fits. Every length is checked against what remains by subtraction
// (`need > end - pos`), so no count, however large, can overflow the check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "debug_file/format.h"

namespace marvix {

struct Cursor {
  const std::uint8_t* data = nullptr;
  std::size_t end = 0;  // one past the last byte that may be read
  std::size_t pos = 0;  // never past end

  std::size_t remaining() const { return end - pos; }

  // Whether the bytes at the cursor begin with `tag`; never moves.
  bool at(std::string_view tag) const {
    return tag.size() <= remaining() && std::memcmp(data + pos, tag.data(), tag.size()) == 0;
  }

  bool skip(std::uint64_t count) {
    if (count > remaining()) return false;
    pos += static_cast<std::size_t>(count);
    return true;
  }

  bool u32(std::uint32_t& value) {
    if (4 > remaining()) return false;
    value = read_u32le(data + pos);
    pos += 4;
    return true;
  }

  // A NUL-terminated string: its offset, and the cursor moves past its NUL.
  bool cstr(std::size_t& offset) {
    const void* nul = std::memchr(data + pos, 0, remaining());
    if (nul == nullptr) return false;
    offset = pos;
    pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) + 1;
    return true;
  }
};

}  // namespace marvix
