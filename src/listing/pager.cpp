#include "listing/pager.h"

#include <string>
#include <string_view>

#include "console/console.h"
#include "listing/listing.h"

namespace marvix {

namespace {

constexpr std::string_view kPrompt = "\npress a key...";
constexpr std::uint32_t kMaxHeldPrompts = 4096;  // 60 KiB of prompts

void pager_pause(Listing& listing) {
  Pager& pager = listing.pager;
  Output& out = listing.out;
  // On a terminal the page must stand on the screen above the prompt.
  if (out.is_terminal) output_flush(out);
  const bool waits = pager.wait_for_key && console_can_wait();
  ++pager.held_prompts;
  if (waits || out.is_terminal || pager.held_prompts == kMaxHeldPrompts) pager_finish(listing);
  if (waits) console_wait_key();
  output_text(out, "\n\n\n");
  pager.lines = 0;
}

}  // namespace

void pager_line_done(Listing& listing) {
  Pager& pager = listing.pager;
  if (!pager.pause) return;
  if (++pager.lines == PAGE_LINES) pager_pause(listing);
}

void pager_finish(Listing& listing) {
  static const std::string prompts = [] {
    std::string text;
    for (std::uint32_t i = 0; i < kMaxHeldPrompts; ++i) text += kPrompt;
    return text;
  }();
  if (listing.pager.held_prompts > 0)
    console_write(prompts.data(), listing.pager.held_prompts * kPrompt.size());
  listing.pager.held_prompts = 0;
}

}  // namespace marvix
