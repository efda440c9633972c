#include "listing/pager.h"

#include <string_view>

#include "console/console.h"

namespace marvix {

namespace {

constexpr std::string_view kPrompt = "\npress a key...";

void pause(Output& out) {
  // The page goes out before its prompt, wherever the two go: on a
  // terminal the page must stand above the prompt, in one file or pipe
  // (2>&1) the prompt must follow it, and the reader of a pipe should have
  // it while the key is awaited. Once output has failed (a reader that has
  // gone included) the listing is over: no more prompts.
  if (!output_flush(out)) return;
  if (console_can_wait()) {
    // Piped to a program that shows it on the same terminal (| cat,
    // | tee log), the page would otherwise often come out below its prompt.
    // A reader that has gone with the page unread (| head -c 100) wants no
    // more: the listing is over, as when a write finds the reader gone,
    // with no prompt and nothing to wait for.
    if (!wait_pipe_taken(out.fd)) {
      out.status = WriteStatus::reader_gone;
      return;
    }
    console_pause(kPrompt);
  } else {
    console_print(kPrompt);
  }
  output_text(out, "\n\n\n");
}

}  // namespace

void pager_line_done(Pager& pager, Output& out) {
  if (!pager.pause || ++pager.lines < PAGE_LINES) return;
  pager.lines = 0;
  pause(out);
}

}  // namespace marvix
