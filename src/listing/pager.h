// The pager: with "-p", the listings stop after every 23 lines and wait for
// a key.
#pragma once

#include <cstdint>

#include "listing/output.h"

namespace marvix {

inline constexpr std::uint8_t PAGE_LINES = 23;

struct Pager {
  bool pause = false;      // the "-p" switch
  std::uint8_t lines = 0;  // listing lines since the last pause, across all listings
};

// Called after every line that a listing prints.
void pager_line_done(Pager& pager, Output& out);

}  // namespace marvix
