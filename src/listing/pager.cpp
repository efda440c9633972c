#include "listing/pager.h"

#include <array>
#include <string_view>

#include "console/console.h"
#include "listing/listing.h"

namespace marvix {

namespace {

constexpr std::string_view kPrompt = "\npress a key...";
constexpr std::uint32_t kMaxHeldPrompts = 4096;  // 60 KiB of prompts

// Prompts back to back, for writing held prompts in a few large writes.
constexpr std::uint32_t kPromptsPerWrite = 256;
constexpr auto kPrompts = [] {
  std::array<char, kPromptsPerWrite * kPrompt.size()> text{};
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = kPrompt[i % kPrompt.size()];
  return text;
}();

void pager_pause(Listing& listing) {
  Pager& pager = listing.pager;
  Output& out = listing.out;
  pager.lines = 0;
  // Once output has failed the listing is over: no more prompts.
  if (out.failed()) return;
  const bool waits = pager.wait_for_key && console_can_wait();
  // Before a wait, the page goes out whatever standard output is: on a
  // terminal it must stand above the prompt, and the reader of a pipe
  // should have it while the key is awaited (a reader that has gone ends
  // the run here). Where the prompt lands in the same file or pipe, it must
  // follow its page there too. Otherwise a file or pipe keeps its large
  // writes.
  const bool in_order = waits || out.is_terminal || pager.one_stream;
  if (in_order && !output_flush(out)) return;
  if (waits) {
    console_pause(kPrompt);
  } else {
    ++pager.held_prompts;
    if (in_order || pager.held_prompts == kMaxHeldPrompts) pager_finish(listing);
  }
  output_text(out, "\n\n\n");
}

}  // namespace

void pager_line_done(Listing& listing) {
  Pager& pager = listing.pager;
  if (!pager.pause) return;
  if (++pager.lines == PAGE_LINES) pager_pause(listing);
}

void pager_finish(Listing& listing) {
  std::uint32_t& held = listing.pager.held_prompts;
  while (held > 0) {
    const std::uint32_t now = held < kPromptsPerWrite ? held : kPromptsPerWrite;
    console_write(kPrompts.data(), now * kPrompt.size());
    held -= now;
  }
}

}  // namespace marvix
