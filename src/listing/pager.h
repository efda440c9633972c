// The pager: with "-p", the listings stop after every 23 lines and wait for
// a key.
#pragma once

#include <cstdint>

namespace marvix {

struct Listing;

inline constexpr std::uint8_t PAGE_LINES = 23;

struct Pager {
  bool pause = false;         // the "-p" switch
  bool wait_for_key = false;  // someone may press a key: set by the run, never by tests or fuzzing
  std::uint8_t lines = 0;     // listing lines since the last pause, across all listings
  // Prompts not yet written. Where no key is waited for, prompts go out in
  // batches: a write per pause would cost more than the listing itself.
  std::uint32_t held_prompts = 0;
  // Standard output and the prompts go into one file or pipe (2>&1): each
  // page is then written before its prompt, and no prompt is held.
  bool one_stream = false;
};

// Called after every line that a listing prints.
void pager_line_done(Listing& listing);
// Writes the prompts still held; called when the listing ends.
void pager_finish(Listing& listing);

}  // namespace marvix
