#include "listing/pager.h"

#include <string_view>

#include "console/console.h"

namespace marvix {

namespace {

constexpr std::string_view kPrompt = "\npress a key...";

void pause(Output& out, bool one_stream) {
  // Once output has failed the listing is over: no more prompts.
  if (out.failed()) return;
  const bool waits = console_can_wait();
  // Before a wait, the page goes out whatever standard output is: on a
  // terminal it must stand above the prompt, and the reader of a pipe
  // should have it while the key is awaited (a reader that has gone ends
  // the run here). Where the prompt lands in the same file or pipe, it must
  // follow its page there too. Otherwise a file or pipe keeps its large
  // writes.
  if ((waits || out.is_terminal || one_stream) && !output_flush(out)) return;
  if (waits) {
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
  pause(out, pager.one_stream);
}

}  // namespace marvix
